// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace stilwane {

// The limits and keys that more than one part of the plug-in must agree on, each written once.

// Canvas sizes the settings offer; config.json's and a collection's width and height are reset outside them.
inline constexpr int kMinCanvasSide = 16;
inline constexpr int kMaxCanvasSide = 8192;

// The vertical replay buffer keeps 1 to 180 seconds (the settings, config.json and the remote control).
inline constexpr int kMinReplaySeconds = 1;
inline constexpr int kMaxReplaySeconds = 180;

// Encoder bitrates in kbps that the settings offer; config.json's values are reset outside them.
inline constexpr int kMinVideoBitrate = 500;
inline constexpr int kMaxVideoBitrate = 50000;
inline constexpr int kMinAudioBitrate = 64;
inline constexpr int kMaxAudioBitrate = 320;

// Stream destinations: config.json's "server" and "key" and up to seven more in "destinations".
inline constexpr int kMaxDestinations = 8;

// OBS's audio mixer tracks, numbered 1 to 6 as the user sees them.
inline constexpr int kFirstAudioTrack = 1;
inline constexpr int kAudioTrackCount = 6;
inline constexpr int kLastAudioTrack = kFirstAudioTrack + kAudioTrackCount - 1;

// Keys of a vertical scene's private settings, saved with the scene collection: the uuid of the main
// scene it is linked to, and its own transition (uuid and duration in milliseconds) when it has one.
inline constexpr const char *kLinkKey = "stilwane_link";
// The link value that follows whichever main scene has the vertical scene's name.
inline constexpr const char *kSameNameLink = "same-name";
inline constexpr const char *kSceneTransitionKey = "stilwane_transition";
inline constexpr const char *kSceneTransitionMsKey = "stilwane_transition_ms";

} // namespace stilwane
