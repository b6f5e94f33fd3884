// The browsers built on Chromium that the program knows, by the folder below
// ~/.cache (their caches) and ~/.config (their profiles' settings and
// bookmarks) that each keeps, and the name the user knows it by. One list
// for the cache finder and the bookmark import.
#pragma once

#include <utility>

namespace tarnhold {

inline constexpr std::pair<const char*, const char*> kChromiumFamily[] = {
    {"chromium", "Chromium"},
    {"chromium-browser", "Chromium"},
    {"google-chrome", "Google Chrome"},
    {"google-chrome-beta", "Google Chrome beta"},
    {"google-chrome-unstable", "Google Chrome unstable"},
    {"BraveSoftware/Brave-Browser", "Brave"},
    {"microsoft-edge", "Microsoft Edge"},
    {"microsoft-edge-beta", "Microsoft Edge beta"},
    {"microsoft-edge-dev", "Microsoft Edge dev"},
    {"vivaldi", "Vivaldi"},
    {"opera", "Opera"},
};

} // namespace tarnhold
