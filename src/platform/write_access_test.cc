// The judgements of who may change or read a file, on Windows security
// descriptors built here from their text form, against what Windows itself
// grants for each: the task's account is S-1-5-21-1-2-3-1001.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "platform/access_judgement.h"

namespace quorvex {
namespace {

constexpr GuardedAccess kChange = GuardedAccess::kChange;
constexpr GuardedAccess kMove = GuardedAccess::kMoveEntries;
constexpr GuardedAccess kRead = GuardedAccess::kRead;

// Each row: the access guarded, the descriptor, and how the answer begins
// (empty: nobody else holds that access).
struct Row {
  const char* name;
  GuardedAccess access;
  const wchar_t* sddl;
  const char* verdict;
};

constexpr char kChanged[] = "may be changed by ";
constexpr char kOwned[] = "belongs to ";
constexpr char kReadBy[] = "may be read by ";

const Row kRows[] = {
    {"installed", kChange, L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", ""},
    {"task's account", kChange, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;S-1-5-21-1-2-3-1001)", ""},
    {"TrustedInstaller", kChange,
     L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)", ""},
    {"owner Users", kChange, L"O:BUD:(A;;FA;;;SY)", kOwned},
    {"no access list", kChange, L"O:SY", "has no access list, so everyone may change it"},
    {"write data", kChange, L"O:SYD:(A;;0x2;;;BU)", kChanged},
    {"append data", kChange, L"O:SYD:(A;;0x4;;;BU)", kChanged},
    {"write extended attributes", kChange, L"O:SYD:(A;;0x10;;;BU)", kChanged},
    {"write attributes", kChange, L"O:SYD:(A;;0x100;;;BU)", kChanged},
    {"delete child", kChange, L"O:SYD:(A;;0x40;;;BU)", kChanged},
    {"delete", kChange, L"O:SYD:(A;;SD;;;BU)", kChanged},
    {"permissions", kChange, L"O:SYD:(A;;WD;;;BU)", kChanged},
    {"owner change", kChange, L"O:SYD:(A;;WO;;;BU)", kChanged},
    {"generic write", kChange, L"O:SYD:(A;;GW;;;BU)", kChanged},
    {"generic all", kChange, L"O:SYD:(A;;GA;;;WD)", kChanged},
    {"conditional", kChange, L"O:SYD:(XA;;FA;;;WD;(Member_of {SID(BA)}))", kChanged},
    {"object", kChange, L"O:SYD:(OA;;FA;00000000-0000-0000-0000-000000000001;;AU)", kChanged},
    {"object, both types", kChange,
     L"O:SYD:(OA;;FA;00000000-0000-0000-0000-000000000001;00000000-0000-0000-0000-000000000002;"
     L"AU)",
     kChanged},
    {"read and run", kChange, L"O:SYD:(A;;FRFX;;;BU)", ""},
    {"for children only", kChange, L"O:SYD:(A;OICIIO;FA;;;BU)", ""},
    {"denied", kChange, L"O:SYD:(D;;FA;;;BU)", ""},
    {"owner rights", kChange, L"O:SYD:(A;;FA;;;OW)", ""},
    // A drive root where users may make folders, and a folder above whose
    // entries they may rename or remove.
    {"drive root", kMove,
     L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)"
     L"(A;OICIIO;SDGXGWGR;;;AU)(A;CI;0x2;;;BU)",
     ""},
    {"generic write above", kMove, L"O:SYD:(A;;GW;;;BU)", ""},
    {"delete child above", kMove, L"O:SYD:(A;;0x40;;;AU)", kChanged},
    {"delete above", kMove, L"O:SYD:(A;;SD;;;AU)", kChanged},
    {"permissions above", kMove, L"O:SYD:(A;;WD;;;AU)", kChanged},
    {"owner above", kMove, L"O:AUD:(A;;FA;;;SY)", kOwned},
    {"private", kRead, L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-21-1-2-3-1001)", ""},
    {"Users", kRead, L"O:SYD:(A;;FR;;;BU)", kReadBy},
    {"LOCAL", kRead, L"O:SYD:(A;;FR;;;S-1-2-0)", kReadBy},
    {"NETWORK", kRead, L"O:SYD:(A;;0x1;;;NU)", kReadBy},
    {"Domain Users", kRead, L"O:SYD:(A;;GR;;;S-1-5-21-1-2-3-513)", kReadBy},
    {"a named user", kRead, L"O:SYD:(A;;FR;;;S-1-5-21-1-2-3-1002)", kReadBy},
    {"conditional reader", kRead, L"O:SYD:(XA;;FR;;;AU;(Member_of {SID(BA)}))", kReadBy},
    {"owner a user", kRead, L"O:S-1-5-21-1-2-3-1002D:(A;;FA;;;SY)", kOwned},
    {"run only", kRead, L"O:SYD:(A;;0x20;;;BU)", ""},
    {"no access list to read", kRead, L"O:SY", "has no access list, so everyone may read it"},
};

TEST(WriteAccessTest, JudgesDescriptorsAsWindowsDoes) {
  PSID task = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-1001", &task));
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << GetLastError();
    const std::string verdict = WhyOthersHave(row.access, descriptor, task);
    LocalFree(descriptor);
    if (*row.verdict == '\0') {
      EXPECT_EQ(verdict, "");
    } else {
      EXPECT_TRUE(verdict.starts_with(row.verdict)) << verdict;
    }
  }
  LocalFree(task);
}

}  // namespace
}  // namespace quorvex
