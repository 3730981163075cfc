// dravikctl log read and log follow: the DPPs' ring log files in time order,
// once or as they are written.
//
// Which files: those of the current set, /cpp/plinder_dpp_logs/<base>.N.
// The base is --name, or the one the log manager's report names, or, with
// no daemon to ask, the one whose link under /var/log/external/ was made
// last. By default every DPP (1-4) with a file of that set; --dpp picks.
// With more than one DPP every line starts with "DPP-N: ".
//
// Standard output carries the files' lines only; what was left out, missed
// or could not be read goes to standard error.
#pragma once

#include "tools/client/platform_dir.h"
#include "tools/dravikctl/plan.h"

namespace dravikctl {

// The exit status: 0, or 1 when no file could be found or read.
int read_logs(const client::PlatformDir& p, const Action& a);

}  // namespace dravikctl
