// The borrow rules of the document classes, one table per class, so that
// every member's policy can be read in one place.
//
// A reader borrows shared, a writer exclusively. Where a rule says Fault, a
// conflict can only come from a broken invariant and raises the internal
// fault instead of RuntimeError. A view or cursor member takes two borrows:
// first its own object's, then its document's.
//
// The lookups are consteval: a member missing from its table does not
// compile.
#pragma once

#include <string_view>

#include "ffi/tag.hpp"

namespace ostrevane::ffi {

inline constexpr BorrowRule kReads{BorrowKind::Shared, BorrowConflict::RuntimeError};
inline constexpr BorrowRule kWrites{BorrowKind::Exclusive, BorrowConflict::RuntimeError};
inline constexpr BorrowRule kReadsOrFault{BorrowKind::Shared, BorrowConflict::Fault};
inline constexpr BorrowRule kWritesOrFault{BorrowKind::Exclusive, BorrowConflict::Fault};
inline constexpr BorrowRule kNoBorrow{BorrowKind::None, BorrowConflict::RuntimeError};

struct MemberRule {
  std::string_view member;
  BorrowRule rule;
};

// OstrevaneDocument, and the document branches of dumps and to_json.
inline constexpr MemberRule kDocumentBorrows[] = {
    {"__repr__", kReads},       {"__len__", kReads},
    {"__contains__", kReads},   {"explicit_start", kReads},
    {"origin", kReads},         {"to_yaml", kReads},
    {"range", kReads},          {"keys", kReads},
    {"walk", kReads},           {"to_dict", kReads},
    {"to_tree", kReads},        {"save", kReads},
    {"__setitem__", kWrites},   {"__delitem__", kWrites},
    {"set_origin", kWrites},    {"__getitem__", kReadsOrFault},
    {"get", kReadsOrFault},     {"locate", kReadsOrFault},
    {"anchors", kReadsOrFault}, {"dumps", kReadsOrFault},
    {"to_json", kReadsOrFault}, {"node", kNoBorrow},
};

consteval BorrowRule document_borrow(std::string_view member) {
  for (const MemberRule& entry : kDocumentBorrows) {
    if (entry.member == member) return entry.rule;
  }
  throw "member missing from kDocumentBorrows";
}

// OstrevaneDocumentView: the view's own borrow, then the document's.
struct ViewMemberRule {
  std::string_view member;
  BorrowRule view;
  BorrowRule document;
};

inline constexpr ViewMemberRule kViewBorrows[] = {
    {"__getitem__", kReadsOrFault, kReadsOrFault},
    {"get", kReadsOrFault, kReadsOrFault},
    {"__contains__", kReads, kReadsOrFault},
    {"__len__", kReads, kReadsOrFault},
    {"keys", kReads, kReadsOrFault},
    {"walk", kReads, kReadsOrFault},
    {"range", kReads, kReadsOrFault},
    {"to_dict", kReads, kReadsOrFault},  // and unwrap, the same operation
    {"to_yaml", kReads, kReadsOrFault},
    {"__repr__", kReads, kReadsOrFault},
    {"node", kReads, kNoBorrow},
    {"__setitem__", kWrites, kWritesOrFault},
    {"__delitem__", kWrites, kWritesOrFault},
};

consteval ViewMemberRule view_borrow(std::string_view member) {
  for (const ViewMemberRule& entry : kViewBorrows) {
    if (entry.member == member) return entry;
  }
  throw "member missing from kViewBorrows";
}

// OstrevaneNode: the document borrow of each member. The cursor's own
// borrow is always shared (no member changes a cursor), so it never
// conflicts; a conflict on the document can only come from Python code run
// inside another member, and is always the internal fault. A setter is
// listed as its property's name followed by "=".
inline constexpr MemberRule kNodeBorrows[] = {
    {"__getitem__", kReadsOrFault},
    {"__contains__", kReadsOrFault},
    {"__repr__", kReadsOrFault},
    {"value", kReadsOrFault},
    {"value=", kWritesOrFault},
    {"line", kReadsOrFault},
    {"column", kReadsOrFault},
    {"offset", kReadsOrFault},
    {"end_offset", kReadsOrFault},
    {"range", kReadsOrFault},
    {"file", kReadsOrFault},
    {"tag", kReadsOrFault},
    {"style", kReadsOrFault},
    {"source_tag", kReadsOrFault},
    {"source_target", kReadsOrFault},
    {"is_secret", kReadsOrFault},
    {"is_env_var", kReadsOrFault},
    {"is_include", kReadsOrFault},
    {"target", kReadsOrFault},
    {"comment", kReadsOrFault},
    {"comment=", kWritesOrFault},
    {"comment_before", kReadsOrFault},
    {"comment_before=", kWritesOrFault},
    {"comment_after", kReadsOrFault},
    {"comment_after=", kWritesOrFault},
    {"anchor", kReadsOrFault},
    {"anchor=", kWritesOrFault},
    {"is_alias", kReadsOrFault},
    {"aliases", kReadsOrFault},
    {"make_alias", kWritesOrFault},
    {"detach", kWritesOrFault},
};

consteval BorrowRule node_borrow(std::string_view member) {
  for (const MemberRule& entry : kNodeBorrows) {
    if (entry.member == member) return entry.rule;
  }
  throw "member missing from kNodeBorrows";
}

}  // namespace ostrevane::ffi
