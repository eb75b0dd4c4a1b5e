// The destination's decision, row by row, from facts made up as a kernel would report them: no
// root, no namespace, nothing touched.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "output/decision.hpp"
#include "output/destination.hpp"

namespace {

constexpr uid_t kUser = 1000, kOther = 1001;

struct Row {
    const char* name;
    void (*set)(DestinationFacts&);
    Way way;
    Reason reason;
};

// A file of the user's, writable, alone at its name in a folder of the user's.
DestinationFacts plain_file() {
    DestinationFacts facts;
    facts.walker = {kUser, false};
    facts.end.node = Descriptor(::open(".", O_PATH | O_CLOEXEC));
    facts.info.st_mode = S_IFREG | 0644;
    facts.info.st_nlink = 1;
    facts.info.st_uid = kUser;
    facts.folder_info.st_mode = S_IFDIR | 0755;
    facts.folder_info.st_uid = kUser;
    facts.writable = true;
    return facts;
}

void others_shared_sticky_folder(DestinationFacts& f) {
    f.folder_info.st_mode = S_IFDIR | S_ISVTX | 0777;
    f.folder_info.st_uid = 0;
}

const Row kRows[] = {
    {"nowhere", [](DestinationFacts& f) { f.error = ENOENT; }, Way::refuse, Reason::leads_nowhere},
    {"past_a_planted_link", [](DestinationFacts& f) { f.error = EACCES, f.planted = true; },
     Way::refuse, Reason::planted},
    {"free_name", [](DestinationFacts& f) { f.end.node.close(); }, Way::replace, Reason::free_name},
    {"closed_standard_output",
     [](DestinationFacts& f) { f.standard_output = true, f.own_output = false; }, Way::refuse,
     Reason::closed_output},
    {"standard_output", [](DestinationFacts& f) { f.standard_output = true; }, Way::stream,
     Reason::own_descriptor},
    {"own_descriptor", [](DestinationFacts& f) { f.descriptor = 5; }, Way::stream,
     Reason::own_descriptor},
    {"file_planted_in_sticky_folder",
     [](DestinationFacts& f) { others_shared_sticky_folder(f), f.info.st_uid = kOther; },
     Way::refuse, Reason::planted},
    {"fifo_planted_in_sticky_folder",
     [](DestinationFacts& f) {
         others_shared_sticky_folder(f), f.info.st_uid = kOther, f.info.st_mode = S_IFIFO | 0666;
     },
     Way::refuse, Reason::planted},
    {"others_fifo_in_their_folder_for_root",
     [](DestinationFacts& f) {
         f.walker = {0, true}, f.info.st_mode = S_IFIFO | 0666;
         f.info.st_uid = f.folder_info.st_uid = kOther;
     },
     Way::refuse, Reason::planted},
    {"others_fifo_in_roots_folder_for_root",
     [](DestinationFacts& f) {
         f.walker = {0, true}, f.info.st_mode = S_IFIFO | 0666, f.info.st_uid = kOther;
         f.folder_info.st_uid = 0;
     },
     Way::stream, Reason::device},
    {"others_fifo_for_a_user", [](DestinationFacts& f) { f.info.st_mode = S_IFIFO | 0666; },
     Way::stream, Reason::device},
    {"device_not_writable",
     [](DestinationFacts& f) { f.info.st_mode = S_IFCHR | 0444, f.writable = false; }, Way::refuse,
     Reason::not_writable},
    {"folder", [](DestinationFacts& f) { f.info.st_mode = S_IFDIR | 0755; }, Way::refuse,
     Reason::folder},
    {"socket", [](DestinationFacts& f) { f.info.st_mode = S_IFSOCK | 0755; }, Way::refuse,
     Reason::not_a_file},
    {"file_not_writable", [](DestinationFacts& f) { f.writable = false; }, Way::refuse,
     Reason::not_writable},
    {"file_through_procs_link", [](DestinationFacts& f) { f.end.through_kernel = true; },
     Way::in_place, Reason::through_kernel},
    {"hard_linked_file", [](DestinationFacts& f) { f.info.st_nlink = 2; }, Way::in_place,
     Reason::other_links},
    {"file_mounted_on_its_name", [](DestinationFacts& f) { f.mounted_on_name = true; },
     Way::in_place, Reason::mounted_on_name},
    {"append_only_folder", [](DestinationFacts& f) { f.names_fixed = true; }, Way::in_place,
     Reason::names_fixed},
    {"others_file_in_others_sticky_folder",
     [](DestinationFacts& f) {
         f.folder_info.st_mode = S_IFDIR | S_ISVTX | 0775;
         f.folder_info.st_uid = f.info.st_uid = kOther;
     },
     Way::in_place, Reason::sticky_keeps},
    {"others_file_in_others_sticky_folder_for_root",
     [](DestinationFacts& f) {
         f.walker = {0, true}, f.folder_info.st_mode = S_IFDIR | S_ISVTX | 0775;
         f.folder_info.st_uid = f.info.st_uid = kOther;
     },
     Way::replace, Reason::old_file},
    {"plain_file", [](DestinationFacts&) {}, Way::replace, Reason::old_file},
};

class Decision : public testing::TestWithParam<Row> {};

TEST_P(Decision, FirstRowThatHoldsWins) {
    DestinationFacts facts = plain_file();
    GetParam().set(facts);
    const Verdict verdict = decide(facts);
    EXPECT_EQ(verdict.way, GetParam().way);
    EXPECT_EQ(verdict.reason, GetParam().reason);
    EXPECT_EQ(verdict.error != 0, verdict.way == Way::refuse);
}

INSTANTIATE_TEST_SUITE_P(Rows, Decision, testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace

// A rewrite in place waits for another's lock only so long, then says so; a replace waits for
// no one's. The wait here is the program's 60 seconds cut short.
TEST(LockWait, InPlaceRefusedAtTheBoundReplaceNotHeldUp) {
    const std::string file = testing::TempDir() + "lock_wait.xbm", link = file + ".link";
    std::remove(file.c_str()), std::remove(link.c_str());
    const Descriptor held(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    ASSERT_EQ(::flock(held.get(), LOCK_SH), 0);
    ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
    testing::internal::CaptureStderr();
    Destination in_place(file, std::chrono::milliseconds(200));
    EXPECT_FALSE(in_place.prepare(gather_facts(file, this_process(), true), 73));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERREUR: Fichier \"" + file +
                  "\" verrouille par un autre processus depuis 0 s : "
                  "Resource temporarily unavailable\n");
    std::remove(link.c_str());
    Destination replace(file, std::chrono::milliseconds(0));
    EXPECT_TRUE(replace.prepare(gather_facts(file, this_process(), true), 1));
    EXPECT_TRUE(replace.write("x", 1) && replace.commit());
    std::remove(file.c_str());
}

TEST(DestinationMisuse, WriteBeforePrepareStopsTheRun) {
    Destination destination("never.xbm");
    EXPECT_DEATH(destination.write("x", 1), "");
}
