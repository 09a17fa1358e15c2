#pragma once

class QWidget;
class ScanPath;

// A watched folder that is new, or now watches another folder, may already
// hold audio and video files; each would become a paid job at the next
// scan. Asks once, naming the count, whether to process them now or only
// the files added from now on; the latter records them in `folder` as seen
// (placeholders, completed by the next scan). Asks nothing for a folder
// without such files.
void askAboutExistingFiles(QWidget* parent, ScanPath& folder);
