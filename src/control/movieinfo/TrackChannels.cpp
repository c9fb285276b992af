// A movie's audio channels as its track says them, and the declarations
// that say otherwise.
#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

namespace {

const StreamProbe* FirstAudioStream(const CheckReport& report) {
    if (!report.probe) return nullptr;
    for (const StreamProbe& stream : report.probe->streams) {
        if (stream.kind == StreamProbe::Kind::Audio) return &stream;
    }
    return nullptr;
}

std::string ChannelsInWords(uint32_t count) {
    return std::to_string(count) + (count == 1 ? " channel" : " channels");
}

}  // namespace

int TrackChannels(const CheckReport& report) {
    const TrackMetadata* track = FirstTrack(report.metadata, "soun");
    if (track != nullptr && track->ownChannels.channels > 0) {
        return static_cast<int>(track->ownChannels.channels);
    }
    const StreamProbe* audio = FirstAudioStream(report);
    return audio != nullptr ? audio->channels : 0;
}

std::string ChannelDeclarationConflict(const CheckReport& report) {
    const TrackMetadata* track = FirstTrack(report.metadata, "soun");
    if (track == nullptr) return std::string();
    if (!track->unreadableDeclaration.empty()) return track->unreadableDeclaration;
    if (!track->ownChannels.problem.empty()) return track->ownChannels.problem;
    if (track->sa3d && track->sa3d->headLockedStereo) return kHeadLockedStereoUnsupported;
    const uint32_t own = track->ownChannels.channels;
    if (own == 0) return std::string();
    const std::string theTrack = ", the track has " + std::to_string(own);
    if (track->sa3d && track->sa3d->channelCount != own) {
        return "SA3D says " + ChannelsInWords(track->sa3d->channelCount) + theTrack;
    }
    if (track->chan) {
        const auto said =
            ChannelLayoutCount(track->chan->tag, track->chan->bitmap, track->chan->labels.size());
        if (said && *said != own) return "its chan box says " + ChannelsInWords(*said) + theTrack;
    }
    // What libavformat sets a decoder up with.
    const StreamProbe* audio = FirstAudioStream(report);
    if (audio != nullptr && audio->channels > 0 && static_cast<uint32_t>(audio->channels) != own) {
        return "libavformat reads " + ChannelsInWords(static_cast<uint32_t>(audio->channels)) +
               theTrack;
    }
    return std::string();
}

bool Fragmented(const CheckReport& report) {
    return report.metadata && report.metadata->fragmented;
}

bool AudioTrackEmpty(const CheckReport& report) {
    const StreamProbe* audio = FirstAudioStream(report);
    return audio != nullptr && audio->indexEntries == 0;
}

std::string UnreadableVideoDeclaration(const CheckReport& report) {
    const TrackMetadata* track = FirstTrack(report.metadata, "vide");
    return track != nullptr ? track->unreadableDeclaration : std::string();
}

}  // namespace spatialmux
