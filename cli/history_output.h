// What zirezid-cli prints of the unit's history: the preview of a write, the list of snapshots, and the
// passwords the history knows (tried when a restore meets a unit whose password a write changed).
#pragma once

#include "history/preview.h"
#include "history/snapshot_store.h"

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// The change list: one tab-separated line per change (history::previewLines), then a summary line on its own.
void printPreview(const history::Preview& preview, std::ostream& out);
// One line per snapshot, newest first: name, kind, UTC time, software version, objects, messages, summary.
void printHistory(const std::vector<history::Snapshot>& snapshots, std::ostream& out);
// The setup passwords of the newest snapshot of every unit that holds the system parameters, newest first.
std::vector<std::string> knownPasswords(const history::SnapshotStore& store);

} // namespace cli
