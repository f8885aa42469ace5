// What one run of the queue keeps from one entry to the next. The run makes one and hands it to
// every entry (TransferRequest::session); an entry carried out alone gets one of its own that keeps
// no folders. Its entries are carried out one at a time, each on whatever thread its caller
// chose; nothing of it is shared with another run. The collision numbers and the time grains
// have locks of their own: an entry's pool threads use them.
#pragma once

#include "engine/keptfolders.h"
#include "engine/nameclaim.h"
#include "engine/ratelimit.h"
#include "platform/tempnames.h"
#include "platform/timegrain.h"

namespace mivex {

struct TransferSession {
    explicit TransferSession(bool keepsFolders = true) : folders(keepsFolders) {}
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    KeptFolders folders;       // the last entry's source folder and destination, kept open
    CollisionNumbers numbers;  // the last "keep both" number taken, per folder and name
    StaleTemps temps;          // the folders already rid of what killed runs left
    TimeGrains grains;         // how finely each destination filesystem keeps times ("U")
    // The run's speed limit, shared by every thread of every entry; null: none. Its owner (the
    // window, the unattended run) may change the rate while the run goes on.
    RateLimit* rateLimit = nullptr;
};

}  // namespace mivex
