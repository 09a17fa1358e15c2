#pragma once

class Settings;

namespace headless {

// One warning line on standard error for each part of the setup that
// cannot work as written: an enabled watched folder that does not exist,
// and no ffmpeg (videos are then left alone).
void warnAboutSetup(const Settings& settings);

} // namespace headless
