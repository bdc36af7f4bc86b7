#include "synth/sequencer_feed.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

bool SequencerFeed::Open(const uint8_t* data, size_t size, const Timing& timing, fluid_synth_t* synth,
                         NoteMuter* muter) {
    pending_ = false;
    if (!sequencer_.Open(data, size)) return false;
    timing_ = timing;
    synth_ = synth;
    muter_ = muter;
    budget_.emplace(fluid_synth_get_polyphony(synth), timing.sampleRate);
    tick_ = std::max<int64_t>(timing.startTick, 0);
    // The place in the song is set as the player's seek sets it: the channels' state as it
    // stands there, and no note struck before it.
    while ((pending_ = sequencer_.Next(next_)) && next_.tick < timing.startTick) {
        const int kind = next_.status & 0xF0;
        if (kind != 0x80 && kind != 0x90 && kind != 0xA0) {
            budget_->Follow(next_);
            (void)SendChannelEvent(synth_, next_.status, next_.data1, next_.data2);
        }
    }
    if (pending_) nextFrame_ = FrameOf(next_.seconds);
    endFrame_ = FrameOf(sequencer_.EndSeconds());
    return true;
}

int64_t SequencerFeed::FrameOf(double seconds) const {
    const double played = std::max(seconds - timing_.startSeconds, 0.0) / timing_.speed;
    return static_cast<int64_t>(std::ceil(played * timing_.sampleRate));
}

void SequencerFeed::PlayUntil(int64_t frame) {
    block_.clear();
    while (pending_ && nextFrame_ <= frame) {
        tick_ = next_.tick;
        block_.push_back(next_);
        if ((pending_ = sequencer_.Next(next_))) nextFrame_ = FrameOf(next_.seconds);
    }
    if (block_.empty()) return;
    // The muter is asked about every note-on before the budget chooses, so that a muted part's
    // notes take no share of the voices from the parts heard. It matches note-ons to the song's
    // notes in turn, so each is asked once, dropped by the budget or not.
    silenced_.assign(block_.size(), 0);
    if (muter_ != nullptr)
        for (size_t i = 0; i < block_.size(); ++i)
            if (const SequencedEvent& e = block_[i]; (e.status & 0xF0) == 0x90)
                silenced_[i] = muter_->Muted(e.status & 0x0F, e.data1) ? 1 : 0;
    budget_->Sift(frame, block_, silenced_);
    for (size_t i = 0; i < block_.size(); ++i) {
        const SequencedEvent& e = block_[i];
        if (!budget_->Sends(i)) continue;
        if (muter_ != nullptr) {
            (void)muter_->PlayHeard(e.status, e.data1, e.data2);
        } else {
            (void)SendChannelEvent(synth_, e.status, e.data1, e.data2);
        }
    }
}
