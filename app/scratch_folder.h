// The scratch folder of one running program. Several windows may run at once (each its own process, each with
// its unnamed database and its read staging), so each process works in a folder of its own below the shared
// base, kept alive by a lock that the system drops when the process ends, however it ends.
#pragma once

#include <QString>

namespace zirezid {

// Makes (or takes over and empties) this process's folder "<base>/<pid>/" and holds its lock for the rest of
// the process's life; removes the folders of processes that have ended. Answers the folder with a trailing
// "/", or an empty string when `base` cannot hold it. Calling it again for the same base empties the folder
// again.
QString claimProcessFolder(const QString& base);

// Whether the process folder `folder` (one made by claimProcessFolder) belongs to a running process.
bool processFolderInUse(const QString& folder);

} // namespace zirezid
