// The few choices the window keeps for the user between its starts (QSettings, in the user's
// configuration folder: Mivex/mivex.conf): whether its runs verify each copy, and the speed limit
// of its runs. Nothing else is kept; the queue lives in the list files the user saves.
#pragma once

#include <cstdint>

namespace mivex::ui::settings {

// Every copy of the window's runs read back and compared with its source; off by default.
bool verify();
void setVerify(bool on);

// The window's runs write no faster than this, in bytes per second; 0, the default: no limit.
std::uint64_t speedLimit();
void setSpeedLimit(std::uint64_t bytesPerSecond);

}  // namespace mivex::ui::settings
