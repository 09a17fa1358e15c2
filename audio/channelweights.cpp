#include "audio/channelweights.h"

#include <algorithm>

namespace channelweights {

using audiolib::Speaker;

double forSpeaker(Speaker speaker)
{
    switch (speaker) {
    case Speaker::LowFrequency:
        return 0.0;
    case Speaker::BackLeft:
    case Speaker::BackRight:
    case Speaker::BackCentre:
    case Speaker::SideLeft:
    case Speaker::SideRight:
        return 1.41;
    default:
        return 1.0;
    }
}

std::vector<Speaker> usualLayout(int channels)
{
    switch (channels) {
    case 1:
        return {Speaker::Centre};
    case 2:
        return {Speaker::Left, Speaker::Right};
    case 3:
        return {Speaker::Left, Speaker::Right, Speaker::Centre};
    case 4:
        return {Speaker::Left, Speaker::Right, Speaker::BackLeft, Speaker::BackRight};
    case 5:
        return {Speaker::Left, Speaker::Right, Speaker::Centre, Speaker::SideLeft, Speaker::SideRight};
    case 6:
        return {Speaker::Left, Speaker::Right, Speaker::Centre, Speaker::LowFrequency, Speaker::SideLeft,
            Speaker::SideRight};
    case 7:
        return {Speaker::Left, Speaker::Right, Speaker::Centre, Speaker::LowFrequency, Speaker::BackCentre,
            Speaker::SideLeft, Speaker::SideRight};
    case 8:
        return {Speaker::Left, Speaker::Right, Speaker::Centre, Speaker::LowFrequency, Speaker::BackLeft,
            Speaker::BackRight, Speaker::SideLeft, Speaker::SideRight};
    default:
        return std::vector<Speaker>(size_t(std::max(channels, 0)), Speaker::Unknown);
    }
}

std::vector<double> forStream(const audiolib::StreamInfo& info)
{
    const bool named = int(info.speakers.size()) == info.channels;
    const std::vector<Speaker> layout = named ? info.speakers : usualLayout(info.channels);
    std::vector<double> weights;
    for (Speaker speaker : layout)
        weights.push_back(forSpeaker(speaker));
    return weights;
}

} // namespace channelweights
