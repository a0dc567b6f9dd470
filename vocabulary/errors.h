// Every failure code a channel start, a channel command or the engine's start-up returns, in one
// place with one meaning each, and the one text an operator reads for each. The engine's own
// codes keep the numbers its channel logs have always written ("error -3").
#pragma once

#include <string_view>

namespace vx {

// Starting a channel: the engine.
inline constexpr int kErrorNotInitialised = -1;
inline constexpr int kErrorBadSlot = -2;      // a slot number outside the slot table
inline constexpr int kErrorSlotBusy = -3;     // the slot runs a transcoder already
inline constexpr int kErrorPipe = -5;         // no pipe for the child's input or output
inline constexpr int kErrorSessionFile = -6;  // rtp_native input without port, or no SDP file
inline constexpr int kErrorEmptySourceUrl = -7;
inline constexpr int kErrorEmptyFileTarget = -8;
inline constexpr int kErrorNoEncoder = -9;     // an enabled stream whose codec has no encoder
inline constexpr int kErrorNotAnOutput = -10;  // a format that cannot be an output
inline constexpr int kErrorLogUnwritable = -12;
inline constexpr int kErrorProcess = -13;  // the child process could not be started

// The engine's start-up.
inline constexpr int kErrorFfmpegMissing = -4;       // no ffmpeg in MORVI_FFMPEG or on PATH
inline constexpr int kErrorTranscoderMissing = -14;  // no morvi-transcoder beside the program

// Starting a channel of the configuration: the channel compiler.
inline constexpr int kErrorNoSuchChannel = -15;        // no channel at that position
inline constexpr int kErrorFolderUnplayable = -16;     // a folder source without a playable file
inline constexpr int kErrorBoundTargetsMissing = -17;  // a bound channel has fewer targets

// A channel command that the program could not take (it is stopping, or its loop did not
// answer in time).
inline constexpr int kErrorNotTaken = -18;

// A recording or playlist target whose folder cannot be made or written: refused before the
// transcoder starts, so the channel fails once instead of ending and restarting over and over.
inline constexpr int kErrorOutputFolderUnwritable = -19;

// Removing a channel while it or a later one is not idle (the later ones would move to other
// engine slots under their running transcoders).
inline constexpr int kErrorRemovalWhileRunning = -20;

// The operator's text for a code: the web API's answer body and the words of start-up messages.
// "" for 0, "unknown error" for a code not listed above.
std::string_view error_text(int code);

}  // namespace vx
