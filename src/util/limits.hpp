// Every fixed limit of the library, with the reason it exists.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrevane::limits {

// Nesting of collections accepted by the scanner (flow), decoder, composer and
// encoders: deep enough for any real document, shallow enough that a hostile
// input cannot make a Python object graph that CPython itself cannot walk.
inline constexpr std::uint32_t kMaxDepth = 1000;

// Nodes that alias expansion may create when a text is read into values
// (the plain decoder, and every road that reads node trees into Python
// values): bounds the work and memory of "billion laughs" inputs. Counted
// by AliasBudget (util/alias_budget.hpp).
inline constexpr std::uint64_t kAliasBudget = 10'000'000;

// Scalar and tag bytes that alias expansion may create, wherever aliases
// are expanded: a long text fanned out through a short alias chain stays
// within the node budget yet multiplies its bytes wherever the tree is
// expanded. Where the loaded values hand tags to Python, what %TAG
// expansions add to each use counts too: every use is written out in full.
inline constexpr std::uint64_t kAliasByteBudget = std::uint64_t{256} << 20;

// Bytes of tag texts that %TAG prefixes may make in one call beyond the
// input's own size. Each distinct expanded tag is made once and shared by
// every node that carries it; this bounds what one long prefix under many
// different suffixes could still multiply. (A tag used many times is made
// once here, but counts per use toward kAliasByteBudget where it reaches
// Python.)
inline constexpr std::uint64_t kTagTextBudget = std::uint64_t{4} << 20;

// Where node trees are expanded with their aliases (writers of documents
// and views, to_yaml, detach, secrets.yaml, schema validation): aliases
// nested along one branch, and nodes made (bytes: kAliasByteBudget).
inline constexpr std::uint32_t kNodeAliasDepth = 100;
inline constexpr std::uint64_t kNodeAliasBudget = 1'000'000;

// Include chains and fan-out: a cycle or an exploding directory tree stops
// early with a clear error instead of exhausting memory or file handles.
inline constexpr std::uint32_t kMaxIncludeDepth = 50;
inline constexpr std::uint64_t kMaxIncludedFiles = 10'000;

// JSON-Schema $ref chains: nesting, and resolutions per validation (a
// fixed part, then as many more for each node of the document once that is
// spent, so that a schema that refers to itself for every node checks a
// large document in full).
inline constexpr std::uint32_t kMaxRefDepth = 127;
inline constexpr std::uint64_t kRefBudget = 100'000;
inline constexpr std::uint64_t kRefBudgetPerNode = 8;

// Work of one schema validation, in units (a schema applied to a node, a
// node converted for enum, const or uniqueItems, a member looked at, 64
// bytes of a string measured or searched): a fixed part, then as many more
// for each node of the document once that is spent. Bounds what a schema
// whose combinators refer back to the whole document can multiply, while any
// real schema checks any document in full.
inline constexpr std::uint64_t kSchemaWorkBudget = 10'000'000;
inline constexpr std::uint64_t kSchemaWorkPerNode = 32;

// Nodes of a converted schema, each counted at every place it appears:
// a sub-schema object used in several places is converted once and shared,
// but validation (and every walk over the schema) sees it at each place, so
// a few objects nested into one another can stand for more nodes than any
// walk could finish. Past this the schema is refused.
inline constexpr std::uint64_t kSchemaNodeBudget = 10'000'000;

// Memory one schema pattern may compile to (RE2's max_mem: its programs and
// matching caches): a short pattern can ask for gigabytes and seconds of
// compiling; beyond this it is refused as too large.
inline constexpr std::size_t kPatternMemory = std::size_t{8} << 20;

// What RE2 may be asked to read of one schema pattern: each class naming
// Unicode properties counts the instructions it compiles to alone, every
// other character one. RE2 builds every class of the text before its memory
// limit applies, and a text of many large classes took seconds and
// gigabytes; beyond this the pattern is refused as too large unread.
inline constexpr std::uint64_t kPatternReadBudget = 100'000;

// Schema patterns kept compiled between validations, process-wide: how
// many, the bytes they may hold together (text and compiled program), and
// the longest pattern text kept. A schema used for every call compiles its
// patterns once, and what the cache holds stays bounded whatever the
// patterns' size. When full, the least recently used pattern goes.
inline constexpr std::size_t kPatternCacheEntries = 256;
inline constexpr std::size_t kPatternCacheBytes = std::size_t{64} << 20;
inline constexpr std::size_t kPatternCacheMaxText = 4096;

// Converted schemas kept between validations (process-wide), and the
// largest kept, in nodes: a schema object passed again is compared with its
// kept conversion instead of being converted, and its keyword tables and
// patterns are reused; larger schemas are converted on every call.
inline constexpr std::size_t kSchemaCacheEntries = 8;
inline constexpr std::size_t kSchemaCacheNodes = 100'000;

// Largest text the scanner accepts, in bytes: token text lengths, lines and
// columns are 32-bit, so a larger text is refused rather than truncated.
inline constexpr std::uint64_t kMaxScanInput = 0xFFFF'FFFFull;

// Largest token buffer a thread keeps for its next scan (documents up to
// about 1 MB): reuse saves the kernel's zeroing of fresh pages, and the
// bound keeps what an idle thread holds to a few MiB (a pool of threads
// multiplies it).
inline constexpr std::size_t kTokenBufferCache = std::size_t{4} << 20;

// Value arenas (the encoder's trees) take storage in chunks of this size,
// and keep this many spare chunks (8 MiB) between calls: fresh pages cost a
// kernel fault each, and a freed large block goes back to the system.
inline constexpr std::size_t kArenaChunkSize = std::size_t{256} << 10;
inline constexpr std::size_t kArenaSpareChunks = 32;

// Largest output buffer a thread keeps for the next `dumps` or `to_json`:
// texts that fit are written into it and copied once into their `bytes`,
// without faulting fresh pages in; longer ones move on into the `bytes`
// object itself and grow there.
inline constexpr std::size_t kKeptOutputBytes = std::size_t{1} << 20;

// Decimal digits a message may spell out for an integer written in another
// base: the conversion is quadratic, so longer ones show their literal (the
// same bound as CPython's default int_max_str_digits).
inline constexpr std::uint64_t kBigIntDecimalDigits = 4300;

// Digits of the fixed-point text that `dumps` and `to_json` write for a
// Decimal: a small Decimal with a large exponent (1E+999999999) would
// otherwise become gigabytes of zeros. The bound is CPython's default
// int_max_str_digits, past which int() refuses the written integer anyway.
inline constexpr std::uint64_t kDecimalFixedDigits = 4300;

// Characters of a key that an error or warning quotes, before "...": a key
// expanded from aliases can be any size, the message stays readable.
inline constexpr std::size_t kQuotedKeyChars = 200;

// Bytes a writer lets a key take in the simple form ("key: value"), from its
// first property to its ":": other readers refuse an implicit key longer than
// 1024 characters, so a longer one is written as "? key". Counting bytes
// (never fewer than characters) keeps every reader on the safe side.
inline constexpr std::size_t kMaxImplicitKeyBytes = 1024;

// Stack guard: run recursive steps directly while this much native stack is
// left, else continue on a fresh segment of kStackSegmentSize bytes.
inline constexpr std::size_t kStackGuardThreshold = 102'400;
inline constexpr std::size_t kStackSegmentSize = std::size_t{32} << 20;

// Stack an annotated container's method wants left before it lets the
// interpreter go one level deeper (pickling, copying, repr and comparison
// recurse through the interpreter's frames, which cannot move to a
// segment): one such level with our method inside it, under a sanitizer's
// larger frames too, and the raising of RecursionError. Small enough that a
// 128 KiB thread still walks some two hundred levels.
inline constexpr std::size_t kInterpreterLevelHeadroom = 32 * 1024;

}  // namespace ostrevane::limits
