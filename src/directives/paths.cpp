#include "directives/paths.hpp"

#include <cstddef>

#include "scanner/input_decode.hpp"

namespace ostrevane {

namespace {

// Walks the components of a path without allocating.
class ComponentReader {
 public:
  explicit ComponentReader(std::string_view path) noexcept : path_(path) {}

  bool next(PathComponent& out) noexcept {
    if (pos_ == 0 && !path_.empty() && path_[0] == '/') {
      pos_ = 1;
      first_ = false;
      out = {PathComponentKind::Root, path_.substr(0, 1)};
      return true;
    }
    for (;;) {
      while (pos_ < path_.size() && path_[pos_] == '/') ++pos_;
      if (pos_ >= path_.size()) return false;
      std::size_t end = path_.find('/', pos_);
      if (end == std::string_view::npos) end = path_.size();
      const std::string_view piece = path_.substr(pos_, end - pos_);
      pos_ = end;
      const bool first = first_;
      first_ = false;
      if (piece == ".") {
        if (!first) continue;
        out = {PathComponentKind::Current, piece};
      } else {
        out = {piece == ".." ? PathComponentKind::Parent : PathComponentKind::Name, piece};
      }
      return true;
    }
  }

 private:
  std::string_view path_;
  std::size_t pos_ = 0;
  bool first_ = true;
};

// True when `prefix`'s components start `path`'s; with `whole`, when they
// are all of them.
bool components_lead(std::string_view path, std::string_view prefix, bool whole) noexcept {
  ComponentReader p(path);
  ComponentReader r(prefix);
  PathComponent a{};
  PathComponent b{};
  for (;;) {
    const bool more_r = r.next(b);
    const bool more_p = p.next(a);
    if (!more_r) return !whole || !more_p;
    if (!more_p || a.kind != b.kind || a.text != b.text) return false;
  }
}

}  // namespace

std::vector<PathComponent> split_path(std::string_view path) {
  std::vector<PathComponent> out;
  ComponentReader reader(path);
  for (PathComponent c{}; reader.next(c);) out.push_back(c);
  return out;
}

std::string normalize_path_lexically(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  ComponentReader reader(path);
  for (PathComponent c{}; reader.next(c);) {
    switch (c.kind) {
      case PathComponentKind::Root:
        // Not `out = "/"`: g++ 12 warns falsely (-Wrestrict) on that assignment.
        out.assign(1, '/');
        break;
      case PathComponentKind::Current:
        break;
      case PathComponentKind::Parent: {
        if (out.empty() || out == "/") break;
        const std::size_t slash = out.rfind('/');
        if (slash == std::string::npos) {
          out.clear();
        } else {
          out.resize(slash == 0 ? 1 : slash);
        }
        break;
      }
      case PathComponentKind::Name:
        if (!out.empty() && out.back() != '/') out += '/';
        out += c.text;
        break;
    }
  }
  return out;
}

bool path_lies_under(std::string_view path, std::string_view root) {
  return components_lead(path, root, false);
}

bool paths_equal(std::string_view a, std::string_view b) {
  return a == b || components_lead(a, b, true);
}

std::string join_path(std::string_view base, std::string_view tail) {
  if (!tail.empty() && tail[0] == '/') return std::string(tail);
  std::string out;
  out.reserve(base.size() + 1 + tail.size());
  out += base;
  if (!base.empty() && base.back() != '/') out += '/';
  out += tail;
  return out;
}

bool parent_path(std::string_view path, std::string& parent) {
  ComponentReader reader(path);
  PathComponent last{};
  bool any = false;
  for (PathComponent c{}; reader.next(c);) {
    last = c;
    any = true;
  }
  if (!any || last.kind == PathComponentKind::Root) return false;
  // Everything before the last component, without the separators between.
  std::size_t end = static_cast<std::size_t>(last.text.data() - path.data());
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0 && !path.empty() && path[0] == '/') end = 1;
  parent.assign(path.substr(0, end));
  return true;
}

std::string path_key(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  ComponentReader reader(path);
  for (PathComponent c{}; reader.next(c);) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += c.text;
  }
  return out;
}

std::string utf8_lossy(std::string_view bytes) {
  if (validate_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length != 0 && i + length <= bytes.size() && validate_utf8(bytes.substr(i, length))) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace ostrevane
