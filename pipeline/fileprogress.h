#pragma once

// How far a file's step at the service has come: its upload, the
// service's processing of its job, or the download of its result.
struct FileProgress {
    enum class Step { None, Upload, Processing, Download };

    Step step = Step::None;
    // 0 to 100; -1 while the step does not say.
    int percent = -1;

    bool operator==(const FileProgress& other) const { return step == other.step && percent == other.percent; }
    bool operator!=(const FileProgress& other) const { return !(*this == other); }
};
