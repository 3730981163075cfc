// VESK option words and opcode registrations. A registration is visible to
// the platform's notification senders as the empty file
// $DRAVIK_PLATFORM_DIR/vesk/reg/<opcode>/<sap>.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/env.h"
#include "platform/host/fail.h"
#include "platform/host/vesk_table.h"
#include "platform/vesk.h"

namespace host {
namespace {

constexpr std::uint16_t kRegisterBit = 0x10;
constexpr std::size_t kMaxOptionWords = 256;

struct OptionWord {
  bool used;
  int handle;
  std::uint32_t opcode;
  std::uint16_t word;
};

OptionWord g_words[kMaxOptionWords];

OptionWord* find_word(int handle, std::uint32_t opcode) {
  for (OptionWord& w : g_words)
    if (w.used && w.handle == handle && w.opcode == opcode) return &w;
  return nullptr;
}

PathBuf reg_dir(std::uint32_t opcode) {
  PathBuf p = platform_path("vesk/reg/");
  p.add_u(opcode);
  return p;
}

PathBuf reg_file(std::uint32_t opcode, int sap) {
  PathBuf p = reg_dir(opcode);
  p.add("/").add_u(static_cast<unsigned>(sap));
  return p;
}

bool add_registration(std::uint32_t opcode, int sap) {
  PathBuf dir = reg_dir(opcode);
  PathBuf file = reg_file(opcode, sap);
  if (!file.ok()) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) return false;
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool remove_registration(std::uint32_t opcode, int sap) {
  PathBuf file = reg_file(opcode, sap);
  if (!file.ok()) return false;
  return unlink(file.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

void vesk_options_release(int handle, int sap) {
  for (OptionWord& w : g_words) {
    if (!w.used || w.handle != handle) continue;
    if (w.word & kRegisterBit) remove_registration(w.opcode, sap);
    w = OptionWord{};
  }
}

void vesk_options_reset() {
  for (OptionWord& w : g_words) w = OptionWord{};
}

}  // namespace host

extern "C" int vesk_options_get(int handle, std::uint32_t opcode) {
  if (host::sap_slot(handle) == nullptr) {
    errno = EBADF;
    return -1;
  }
  const host::OptionWord* w = host::find_word(handle, opcode);
  return w != nullptr ? w->word : 0;
}

extern "C" int vesk_options_set(int handle, std::uint32_t opcode, std::uint16_t word) {
  if (host::fail_now(host::FailOp::vesk_options_set, opcode)) return -1;
  host::SapSlot* slot = host::sap_slot(handle);
  if (slot == nullptr) {
    errno = EBADF;
    return -1;
  }
  host::OptionWord* w = host::find_word(handle, opcode);
  if (w == nullptr) {
    for (host::OptionWord& free_word : host::g_words) {
      if (!free_word.used) {
        w = &free_word;
        break;
      }
    }
    if (w == nullptr) {
      errno = ENOSPC;
      return -1;
    }
    *w = host::OptionWord{true, handle, opcode, 0};
  }
  // The file follows the register bit; the word changes only when the file
  // could be made to match it.
  bool registered = (word & host::kRegisterBit) != 0;
  bool ok = registered ? host::add_registration(opcode, slot->sap)
                       : host::remove_registration(opcode, slot->sap);
  if (!ok) return -1;
  w->word = word;
  return 0;
}
