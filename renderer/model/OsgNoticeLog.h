#pragma once

namespace vistrel {

// Sends the scene-graph library's own notices into the log instead of
// standard error, at the matching level (fatal ones as ERROR, warnings as
// WARN, notices and information as INFO). A notice already written once is
// counted, not written again, and so is the pager's report of a tile the
// read-file callback has already logged as missing or damaged. Installed
// once per process; later calls do nothing.
void installOsgNoticeLog();

}  // namespace vistrel
