// The judgements of write_access.h on a Windows security descriptor held in
// memory, so that they can be compared with what Windows itself enforces on
// descriptors built for the purpose. Used by write_access-win32.cc and its
// tests only.
#pragma once

#include <string>

namespace quorvex {

// What others must not be granted.
enum class GuardedAccess {
  kChange,       // the object itself: its data, attributes, entries, deletion, permissions, owner
  kMoveEntries,  // a folder above: removing or renaming what it holds, permissions, owner
  kRead,         // the settings file: reading its data
};

// Why accounts other than SYSTEM, Administrators, TrustedInstaller and
// trusted_user (a SID; may be null) hold access on the object that
// descriptor (a self-relative or absolute SECURITY_DESCRIPTOR) describes,
// in words that follow the object's name in a sentence; empty when none
// does. An owner outside those accounts is always a reason (an owner may
// rewrite the list); so is a missing access list. Every allowing entry
// counts, whatever its kind (object, callback and conditional entries
// too: their condition may hold), except those that only pass on to a
// folder's children; denying entries are not read, which can only make
// the answer stricter than Windows'.
std::string WhyOthersHave(GuardedAccess access, void* descriptor, void* trusted_user);

}  // namespace quorvex
