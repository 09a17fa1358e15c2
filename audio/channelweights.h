#pragma once

#include "audio/audiolibrary.h"

#include <vector>

// Loudness weights of a stream's channels, as ITU-R BS.1770-4 and BS.2051
// give them: left, right, centre and the other front and height channels
// 1.0; the surround (side) and back channels 1.41; the low-frequency
// channel left out (0). The layout is the one the file names (a WAV channel
// mask); without one, the usual order for the channel count:
//   1 mono; 2 L R; 3 L R C; 4 L R BL BR (quad); 5 L R C Ls Rs (5.0);
//   6 L R C LFE Ls Rs (5.1); 7 L R C LFE BC SL SR (6.1);
//   8 L R C LFE BL BR SL SR (7.1); more channels all 1.0.
// A channel the file's layout leaves unnamed weighs 1.0.
namespace channelweights {

double forSpeaker(audiolib::Speaker speaker);
// The layout a file of `channels` channels has when it names none.
std::vector<audiolib::Speaker> usualLayout(int channels);
std::vector<double> forStream(const audiolib::StreamInfo& info);

} // namespace channelweights
