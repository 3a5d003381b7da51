#include "directives/paths.hpp"

#include <cstddef>

namespace ostrevane {

std::vector<PathComponent> split_path(std::string_view path) {
  std::vector<PathComponent> out;
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    out.push_back({PathComponentKind::Root, path.substr(0, 1)});
    i = 1;
  }
  bool first = out.empty();
  while (i < path.size()) {
    if (path[i] == '/') {
      ++i;
      continue;
    }
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view piece = path.substr(i, end - i);
    if (piece == ".") {
      // Only a leading "." of a relative path counts.
      if (first) out.push_back({PathComponentKind::Current, piece});
    } else if (piece == "..") {
      out.push_back({PathComponentKind::Parent, piece});
    } else {
      out.push_back({PathComponentKind::Name, piece});
    }
    first = false;
    i = end;
  }
  return out;
}

std::string normalize_path_lexically(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (const PathComponent& c : split_path(path)) {
    switch (c.kind) {
      case PathComponentKind::Root:
        out = "/";
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

namespace {

bool component_equal(const PathComponent& a, const PathComponent& b) noexcept {
  return a.kind == b.kind && a.text == b.text;
}

}  // namespace

bool path_lies_under(std::string_view path, std::string_view root) {
  const std::vector<PathComponent> r = split_path(root);
  const std::vector<PathComponent> p = split_path(path);
  if (r.size() > p.size()) return false;
  for (std::size_t i = 0; i < r.size(); ++i) {
    if (!component_equal(r[i], p[i])) return false;
  }
  return true;
}

bool paths_equal(std::string_view a, std::string_view b) {
  const std::vector<PathComponent> x = split_path(a);
  const std::vector<PathComponent> y = split_path(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!component_equal(x[i], y[i])) return false;
  }
  return true;
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
  const std::vector<PathComponent> parts = split_path(path);
  if (parts.empty() || parts.back().kind == PathComponentKind::Root) return false;
  // Everything before the last component, without the separators between.
  std::size_t end = static_cast<std::size_t>(parts.back().text.data() - path.data());
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0 && !path.empty() && path[0] == '/') end = 1;
  parent.assign(path.substr(0, end));
  return true;
}

}  // namespace ostrevane
