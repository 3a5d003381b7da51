// Test-only: one line per token stream, StreamStart and StreamEnd left out.
//   MAP / SEQ      block MappingStart / SequenceStart     BE   BlockEnd
//   { } [ ]        flow collections                        ,    FlowEntry
//   K / ?K         Key (implicit / explicit)               V    Value
//   -              SequenceEntry                           DOC / DOCEND
//   S(text)        plain scalar; S'( ) S"( ) S|( ) S>( ) for the other styles
//   &(a) *(a) !(t) %(d)  anchor, alias, tag, directive
// Line feeds and tabs in texts are shown as \n and \t.
#pragma once

#include <string>

#include "scanner/token.hpp"

namespace ostrevane::testing {

inline std::string dump_text(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

inline std::string dump_token(const Token& t) {
  switch (t.kind) {
    case TokenKind::StreamStart:
      return "STREAM";
    case TokenKind::StreamEnd:
      return "STREAMEND";
    case TokenKind::DocumentStart:
      return "DOC";
    case TokenKind::DocumentEnd:
      return "DOCEND";
    case TokenKind::MappingStart:
      return t.flow() ? "{" : "MAP";
    case TokenKind::MappingEnd:
      return "}";
    case TokenKind::SequenceStart:
      return t.flow() ? "[" : "SEQ";
    case TokenKind::SequenceEnd:
      return "]";
    case TokenKind::BlockEnd:
      return "BE";
    case TokenKind::Key:
      return t.explicit_key() ? "?K" : "K";
    case TokenKind::Value:
      return "V";
    case TokenKind::SequenceEntry:
      return "-";
    case TokenKind::FlowEntry:
      return ",";
    case TokenKind::Scalar: {
      static constexpr const char* kStyle[] = {"S", "S'", "S\"", "S|", "S>"};
      return std::string(kStyle[static_cast<int>(t.style)]) + "(" + dump_text(t.text()) + ")";
    }
    case TokenKind::Anchor:
      return "&(" + dump_text(t.text()) + ")";
    case TokenKind::Alias:
      return "*(" + dump_text(t.text()) + ")";
    case TokenKind::Tag:
      return "!(" + dump_text(t.text()) + ")";
    case TokenKind::Directive:
      return "%(" + dump_text(t.text()) + ")";
  }
  return "?";
}

inline std::string dump_tokens(const TokenList& list) {
  std::string out;
  const auto& tokens = list.tokens;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if ((i == 0 && tokens[i].kind == TokenKind::StreamStart) ||
        (i + 1 == tokens.size() && tokens[i].kind == TokenKind::StreamEnd))
      continue;
    if (!out.empty()) out += ' ';
    out += dump_token(tokens[i]);
  }
  return out;
}

}  // namespace ostrevane::testing
