#pragma once

#include <cstdint>
#include <optional>

namespace velvox::TakeGuards {

// The loudest input power, in decibels relative to full scale (the mean over
// one 50 ms meter reading), at or below which a take holds no voice: sending
// it would only invite the speech model to invent words. It is the floor of
// the level the pill shows, so such a take never moved the meter. Measured
// on the virtual microphone (bench/app_silence_guard.cpp): a dead or muted
// input reads about -96, preamp hiss -75, a quiet room -64; whispered speech
// -52, quiet speech -42, normal speech -22.
inline constexpr double kSilenceDecibels = -55.0;

// A take whose input never rose above kSilenceDecibels heard nothing.
bool heardVoice(double loudestDecibels);

// What a key pressed while a take records means for it.
enum class KeyDuringTake {
    keep,
    // Escape: the user takes it back, and is told so in the log.
    cancel,
    // A key typed with a modifier hotkey held just before: the user was
    // typing a character (right alt is AltGr on many layouts), not dictating.
    discard,
};

// A key counts as typing only so early in a hold; a longer dictation is
// never thrown away by a stray key.
inline constexpr double kTypingGraceSeconds = 0.5;

// keyCode: the ordinary key that went down; heldHotkey: the hotkey held for
// this take, none when a command started it; recordedSeconds: the take's
// length so far.
KeyDuringTake judgeKey(int64_t keyCode, std::optional<int64_t> heldHotkey, double recordedSeconds,
                       double minHoldSeconds);

}  // namespace velvox::TakeGuards
