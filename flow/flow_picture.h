// The picture of the call flow, laid out by Graphviz's library: lines on the left, menus as boxes with
// number, description and message length, digits on the arrows, operators and mailboxes as end shapes, the
// check's findings in colour and a trial call's path drawn bold.
#pragma once

#include "flow/call_flow.h"
#include "flow/prewrite_check.h"

#include <string>
#include <utility>
#include <vector>

namespace flow {

struct PictureOptions {
    std::vector<Finding> findings;
    std::vector<std::pair<int, int>> path; // (menu, event) pairs taken by a trial call
    std::vector<int> pathMenus;            // menus a trial call entered
    int pathLine = 0;                      // the line the trial call came in on (0: none)
    // Layout that takes longer is abandoned for the plain list.
    int timeoutMs = 5000;
};

struct Picture {
    bool laidOut = false; // false: the plain list stands in for the graph
    std::string message;  // why the list stands in, in Russian (empty when laid out)
    std::string data;     // the picture in the requested format
};

// format: "svg", "png" or "pdf". Never throws for a bad database; a layout that fails or runs out of time
// gives the plain list drawn in the same format.
Picture drawCallFlow(const CallFlow& flow, const PictureOptions& options, const std::string& format);

// The format named by a file's extension ("svg", "png", "pdf"), or empty.
std::string pictureFormatFor(const std::string& path);

// The plain list the picture falls back to: one line per line, menu and arrow.
std::vector<std::string> flowAsList(const CallFlow& flow);

// The element id of a menu's box in the SVG ("menu_3") and back (-1 when the id is not a menu's).
std::string menuElementId(int menu);
int menuOfElementId(const std::string& id);

// The menus the picture shows: those a caller can reach and those that hold anything.
std::vector<int> pictureMenus(const CallFlow& flow);

} // namespace flow
