// The process-wide settings and descriptors, with the values they hold before
// main runs.
#include "frame/frame.h"

#ifndef DRAVIK_BUILD_TARGET
#define DRAVIK_BUILD_TARGET "host"
#endif
#ifndef DRAVIK_SOURCE_TREE
#define DRAVIK_SOURCE_TREE "unknown"
#endif
#ifndef DRAVIK_IMAGE_NAME
#define DRAVIK_IMAGE_NAME "dravik"
#endif

extern "C" {

std::uint16_t card_id = 0;
int process_spawned_by_corvan = 0;
int pm_desciptor = 0;
int restart = 0;
std::uint8_t lc_mode = 0;
int h_b_period = 100;
int ha_support = 0;
volatile sig_atomic_t main_loop = 1;
int q = 0;
struct sigaction sigint = {};

// Build identification, found in the executable by the platform's tools and
// never read by the daemon. `used` keeps the compiler from dropping them, and
// the extern "C" definitions give the const arrays external linkage.
__attribute__((used)) const char tgt_data[200] = "@@TGT@@" DRAVIK_BUILD_TARGET;
__attribute__((used)) const char tree_loc[200] = "@@TREE@@" DRAVIK_SOURCE_TREE;
__attribute__((used)) const char image_name[200] = "@@IMAGE@@" DRAVIK_IMAGE_NAME;
}
