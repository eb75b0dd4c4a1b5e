#include "decision.hpp"

#include <cerrno>

namespace {

bool is_device(mode_t mode) {
    return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}

// Whether the user `owner` may write in the folder: its owner, or anyone where anyone may. A
// folder writable by its group counts too, the group's members being unknown here.
bool may_write_in(const struct stat& folder, uid_t owner) {
    return folder.st_uid == owner || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool planted(const DestinationFacts& facts) {
    const struct stat& info = facts.info;
    if ((S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) &&
        planted_in_sticky_folder(facts.folder_info, info.st_uid, facts.walker)) {
        return true;
    }
    return facts.walker.may_override && is_device(info.st_mode) && !facts.end.through_kernel &&
           info.st_uid != facts.walker.user && may_write_in(facts.folder_info, info.st_uid);
}

// A file the run may replace, or the reason why it is rewritten in place instead.
Verdict decide_for_file(const DestinationFacts& facts) {
    const bool sticky_keeps = (facts.folder_info.st_mode & S_ISVTX) != 0 &&
                              facts.walker.user != 0 && facts.info.st_uid != facts.walker.user &&
                              facts.folder_info.st_uid != facts.walker.user;
    if (facts.end.through_kernel) {
        return {Way::in_place, Reason::through_kernel};
    }
    if (facts.info.st_nlink != 1) {
        return {Way::in_place, Reason::other_links};
    }
    if (facts.mounted_on_name) {
        return {Way::in_place, Reason::mounted_on_name};
    }
    if (facts.names_fixed) {
        return {Way::in_place, Reason::names_fixed};
    }
    if (sticky_keeps) {
        return {Way::in_place, Reason::sticky_keeps};
    }
    return {Way::replace, Reason::old_file};
}

Verdict decide_for_node(const DestinationFacts& facts) {
    const mode_t mode = facts.info.st_mode;
    if (planted(facts)) {
        return {Way::refuse, Reason::planted, EACCES};
    }
    if (is_device(mode)) {
        return facts.writable ? Verdict{Way::stream, Reason::device}
                              : Verdict{Way::refuse, Reason::not_writable, EACCES};
    }
    if (S_ISDIR(mode)) {
        return {Way::refuse, Reason::folder, EISDIR};
    }
    if (!S_ISREG(mode)) {
        return {Way::refuse, Reason::not_a_file, ENXIO};
    }
    if (!facts.writable) {
        return {Way::refuse, Reason::not_writable, EACCES};
    }
    return decide_for_file(facts);
}

}  // namespace

Verdict decide(const DestinationFacts& facts) {
    if (facts.error != 0) {
        return {Way::refuse, facts.planted ? Reason::planted : Reason::leads_nowhere, facts.error};
    }
    if (facts.free()) {
        return {Way::replace, Reason::free_name};
    }
    if (facts.standard_output && !facts.own_output) {
        return {Way::refuse, Reason::closed_output, EBADF};
    }
    if (facts.standard_output || facts.descriptor >= 0) {
        return {Way::stream, Reason::own_descriptor};
    }
    return decide_for_node(facts);
}
