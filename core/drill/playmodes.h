#pragma once

// The learner's choices that steer a drill. The numbers are those kept in the settings store
// ("playMode", "subtitleDisplayMode", "playGroup") and the rows of the player's lists, so they
// never change.

enum class PlayMode {
    NormalPlay = 0, // 正常播放: sentence after sentence
    Repeat = 1,     // 复读机: one sentence, endlessly
    AutoNext = 2,   // 自动下一句: each sentence N times, then the next
};

enum class SubtitleDisplay {
    Always = 0,    // 显示字幕
    Never = 1,     // 不显示字幕 (shown while H is held)
    FirstPass = 2, // 首轮显示
    LastPass = 3,  // 末轮显示
};

// Which sentences are played: every one, those put into group 2, or the others (group 1).
enum class PlayGroup {
    All = 0,
    Group2 = 1,
    Group1 = 2,
};
