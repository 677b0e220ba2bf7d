#include "archiver/codec/huffman.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "archiver/codec/bit_reader.h"

namespace veltrane::mpq {
namespace {

// The format's weight tables, each a list of runs: the first byte value of the run, its
// length, then the weight of each byte in it. A byte outside every run, or of weight 0, has
// no code until the stream brings it in as a literal.
constexpr std::uint8_t kWeights0[] = {0, 1, 10, 255, 1, 2};
constexpr std::uint8_t kWeights1[] = {
    0,   128, 84, 22, 22, 13, 12, 8, 6,  5, 6, 5, 6, 3, 4, 4, 3, 5, 14, 11, 20, 19, 19, 9, 11, 6,
    5,   4,   3,  2,  3,  2,  2,  2, 13, 7, 9, 6, 6, 4, 3, 2, 4, 3, 3,  3,  3,  3,  2,  2, 9,  6,
    4,   4,   4,  4,  3,  2,  3,  2, 2,  2, 2, 3, 2, 4, 8, 3, 4, 7, 9,  5,  3,  3,  3,  3, 2,  2,
    2,   3,   2,  2,  3,  2,  2,  2, 2,  2, 2, 2, 2, 1, 1, 1, 2, 1, 2,  2,  6,  10, 8,  8, 6,  7,
    4,   3,   4,  4,  2,  2,  4,  2, 3,  3, 4, 3, 7, 7, 9, 6, 4, 3, 3,  2,  1,  2,  2,  2, 2,  2,
    128, 128, 10, 2,  2,  3,  2,  2, 1,  1, 2, 2, 2, 6, 3, 5, 2, 3, 2,  1,  1,  1,  1,  1, 1,  1,
    1,   1,   1,  2,  3,  1,  1,  1, 2,  1, 1, 1, 1, 1, 1, 2, 4, 4, 4,  7,  9,  8,  12, 2, 1,  1,
    1,   1,   1,  1,  1,  1,  1,  1, 1,  1, 2, 1, 1, 3, 4, 1, 2, 4, 5,  1,  1,  1,  1,  1, 1,  1,
    2,   1,   1,  1,  4,  1,  1,  1, 1,  1, 2, 1, 1, 1, 1, 1, 1, 1, 1,  1,  2,  1,  1,  1, 1,  1,
    1,   1,   3,  1,  1,  1,  1,  1, 1,  1, 2, 1, 1, 1, 1, 1, 1, 2, 2,  1,  1,  2,  2,  2, 6,  75};
constexpr std::uint8_t kWeights2[] = {
    9, 5,  3,  39, 0,  0,  35, 32, 95, 255, 1,  1,  1, 1,  1,  1,  1,  2,  2,  1,  1,
    6, 14, 16, 4,  6,  8,  5,  4,  4,  3,   3,  2,  2, 3,  3,  1,  1,  2,  1,  1,  1,
    4, 2,  4,  2,  2,  2,  1,  1,  4,  1,   1,  2,  3, 3,  2,  3,  1,  3,  6,  4,  1,
    1, 1,  1,  1,  1,  2,  1,  2,  1,  1,   1,  41, 7, 22, 18, 64, 10, 10, 17, 37, 1,
    3, 23, 16, 38, 42, 16, 1,  35, 35, 47,  16, 6,  7, 2,  9,  1,  1,  1,  1,  1};
constexpr std::uint8_t kWeights3[] = {
    0,   128, 255, 11, 7, 5,  11, 2, 2, 2, 6, 2, 2,  1,  4,  2, 1, 3, 9,  1, 1, 1, 3, 4, 1, 1,
    2,   1,   1,   1,  2, 1,  1,  1, 5, 1, 1, 1, 13, 1,  1,  1, 1, 1, 1,  1, 1, 1, 1, 1, 2, 1,
    1,   3,   1,   1,  1, 1,  1,  1, 1, 2, 1, 1, 1,  1,  10, 4, 2, 1, 6,  3, 2, 1, 1, 1, 1, 1,
    3,   1,   1,   1,  5, 2,  3,  4, 3, 3, 3, 2, 1,  1,  1,  2, 1, 2, 3,  3, 1, 3, 1, 1, 2, 5,
    1,   1,   4,   3,  5, 1,  3,  1, 3, 3, 2, 1, 4,  3,  10, 6, 1, 1, 1,  1, 1, 1, 1, 1, 1, 1,
    128, 128, 2,   2,  1, 10, 2,  5, 1, 1, 2, 7, 2,  23, 1,  5, 1, 1, 14, 1, 1, 1, 1, 1, 1, 1,
    1,   1,   1,   1,  1, 1,  1,  1, 1, 1, 1, 1, 1,  1,  1,  1, 1, 1, 1,  1, 1, 1, 1, 1, 1, 1,
    1,   1,   1,   1,  1, 1,  1,  1, 1, 1, 1, 1, 1,  1,  6,  2, 1, 4, 5,  1, 1, 2, 1, 1, 1, 1,
    2,   1,   1,   1,  1, 1,  1,  1, 1, 1, 1, 1, 1,  1,  1,  1, 1, 1, 1,  1, 1, 1, 1, 1, 1, 1,
    1,   1,   7,   1,  1, 2,  1,  1, 1, 1, 2, 1, 1,  1,  1,  1, 1, 1, 2,  1, 1, 1, 1, 1, 1, 17};
constexpr std::uint8_t kWeights4[] = {0,   16, 255, 251, 152, 154, 132, 133, 99,
                                      100, 62, 62,  34,  34,  19,  19,  24,  23};
constexpr std::uint8_t kWeights5[] = {
    0,   64,  255, 241, 157, 158, 154, 155, 154, 151, 147, 147, 140, 142, 134, 136, 128,
    130, 124, 124, 114, 115, 105, 107, 95,  96,  85,  86,  74,  75,  64,  65,  55,  55,
    47,  47,  39,  39,  33,  33,  27,  28,  23,  23,  19,  19,  16,  16,  13,  13,  11,
    11,  9,   9,   8,   8,   7,   7,   6,   5,   5,   4,   4,   4,   25,  24};
constexpr std::uint8_t kWeights6[] = {0,   8,   195, 203, 245, 65,  255, 123, 247, 33, 64,  8,
                                      191, 204, 242, 64,  253, 124, 247, 34,  128, 2,  122, 70};
constexpr std::uint8_t kWeights7[] = {0,   16,  195, 217, 239, 61,  249, 124, 233, 30,
                                      253, 171, 241, 44,  252, 91,  254, 23,  64,  16,
                                      189, 217, 236, 61,  245, 125, 232, 29,  251, 174,
                                      240, 44,  251, 92,  255, 24,  128, 2,   112, 108};
constexpr std::uint8_t kWeights8[] = {
    0,   32,  186, 197, 218, 51,  227, 109, 216, 24,  229, 148, 218, 35, 223, 74, 209, 16,
    238, 175, 228, 44,  234, 90,  222, 21,  244, 135, 233, 33,  246, 67, 252, 18, 64,  32,
    176, 199, 216, 51,  227, 107, 214, 24,  231, 149, 216, 35,  219, 73, 208, 17, 233, 178,
    226, 43,  232, 92,  221, 21,  241, 135, 231, 32,  247, 68,  255, 19, 128, 2,  95,  158};

constexpr std::span<const std::uint8_t> kWeightTables[] = {kWeights0, kWeights1, kWeights2,
                                                           kWeights3, kWeights4, kWeights5,
                                                           kWeights6, kWeights7, kWeights8};

// Besides the 256 byte values: the end of the stream, and an escape that a literal byte
// follows in 8 raw bits.
constexpr unsigned kEndSymbol = 0x100;
constexpr unsigned kEscape = 0x101;
constexpr int kNone = -1;

// A node of the code tree. All nodes stand in one list ordered by weight, heaviest first,
// and are named by their place in it; the root is first. An inner node's children are
// neighbours: the lighter one, which bit 0 picks, right after the heavier one (bit 1).
struct Node {
  std::uint32_t weight = 0;
  int parent = kNone;
  int lighter = kNone;  // the lighter child's place; kNone for a leaf
  unsigned symbol = 0;
};

class Tree {
 public:
  explicit Tree(std::span<const std::uint8_t> runs);

  // The next symbol, or nothing when the input ends inside its code.
  std::optional<unsigned> Decode(BitReader& bits) const {
    int place = 0;
    while (nodes_[place].lighter != kNone) {
      const auto bit = bits.Read(1);
      if (!bit) return std::nullopt;
      place = nodes_[place].lighter - static_cast<int>(*bit);
    }
    return nodes_[place].symbol;
  }

  // Adds one to the weight of `symbol`'s leaf and of each node above it. A node that comes
  // to outweigh those before it trades places with the first of them, subtree and all, so
  // the list stays ordered.
  void Strengthen(unsigned symbol) {
    for (int place = leaf_[symbol]; place != kNone; place = nodes_[place].parent) {
      const std::uint32_t weight = ++nodes_[place].weight;
      int first = place;
      while (first > 0 && nodes_[first - 1].weight < weight) --first;
      if (first != place) {
        Swap(place, first);
        place = first;
      }
    }
  }

  // Gives `byte` a leaf: the last (lightest) leaf becomes an inner node over itself and the
  // new byte, which starts at weight 0 and is strengthened once. False when the byte has a
  // leaf already, which no encoder writes.
  bool Add(unsigned byte) {
    const int last = static_cast<int>(nodes_.size()) - 1;
    const Node lightest = nodes_[last];
    if (leaf_[byte] != kNone || lightest.lighter != kNone) return false;
    nodes_.push_back({lightest.weight, last, kNone, lightest.symbol});
    nodes_.push_back({0, last, kNone, byte});
    nodes_[last].lighter = last + 2;
    leaf_[lightest.symbol] = last + 1;
    leaf_[byte] = last + 2;
    Strengthen(byte);
    return true;
  }

 private:
  void Swap(int a, int b) {
    std::swap(nodes_[a].weight, nodes_[b].weight);
    std::swap(nodes_[a].lighter, nodes_[b].lighter);
    std::swap(nodes_[a].symbol, nodes_[b].symbol);
    Adopt(a);
    Adopt(b);
  }

  // Points the children of the node at `place`, or its symbol's leaf entry, back at it.
  void Adopt(int place) {
    const Node& node = nodes_[place];
    if (node.lighter == kNone) {
      leaf_[node.symbol] = place;
      return;
    }
    nodes_[node.lighter].parent = place;
    nodes_[node.lighter - 1].parent = place;
  }

  std::vector<Node> nodes_;
  std::array<int, 0x102> leaf_;
};

// The list is built as the format does: a new node goes after the last node at least as
// heavy, or first when it is at least as heavy as every node before it. The byte values come
// in order, then the end and escape symbols at the end, at weight 1. Then, from the end of
// the list toward its start, each two neighbours not yet paired get a parent, until only the
// root is left.
Tree::Tree(std::span<const std::uint8_t> runs) {
  std::vector<Node> pool;  // parent and lighter name pool entries here, not places
  std::vector<int> order;  // pool entries, heaviest first
  std::uint32_t heaviest = 0;
  auto insert = [&](Node node) {
    pool.push_back(node);
    auto at = order.begin();
    if (node.weight < heaviest) {
      at = order.end();
      while (pool[*std::prev(at)].weight < node.weight) --at;
    } else {
      heaviest = node.weight;
    }
    return *order.insert(at, static_cast<int>(pool.size()) - 1);
  };
  for (std::size_t i = 0; i + 1 < runs.size(); i += 2 + runs[i + 1]) {
    for (unsigned k = 0; k < runs[i + 1]; ++k) {
      const std::uint8_t weight = runs[i + 2 + k];
      if (weight != 0) insert({weight, kNone, kNone, runs[i] + k});
    }
  }
  for (unsigned symbol : {kEndSymbol, kEscape}) {
    pool.push_back({1, kNone, kNone, symbol});
    order.push_back(static_cast<int>(pool.size()) - 1);
  }
  for (std::ptrdiff_t lighter = std::ssize(order) - 1; lighter > 0;) {
    const int light = order[lighter], heavy = order[lighter - 1];
    const int parent = insert({pool[light].weight + pool[heavy].weight, kNone, light, 0});
    pool[light].parent = pool[heavy].parent = parent;
    lighter = std::find(order.begin(), order.end(), heavy) - order.begin() - 1;
  }
  std::vector<int> place(pool.size());
  for (std::size_t i = 0; i < order.size(); ++i) place[order[i]] = static_cast<int>(i);
  leaf_.fill(kNone);
  for (int id : order) {
    Node node = pool[id];
    if (node.parent != kNone) node.parent = place[node.parent];
    if (node.lighter != kNone) node.lighter = place[node.lighter];
    if (node.lighter == kNone) leaf_[node.symbol] = static_cast<int>(nodes_.size());
    nodes_.push_back(node);
  }
}

std::string Hex(unsigned value) {
  const char* digits = "0123456789abcdef";
  return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

Error Truncated(std::size_t produced) {
  return Fail("Huffman stream is truncated: input ends after " + std::to_string(produced) +
              " bytes of output");
}

// Table 0 starts nearly empty and strengthens every byte it decodes; the others keep their
// weights but for the literals they bring in.
Result<std::vector<std::byte>> Decode(Tree& tree, bool adapts, std::span<const std::byte> stream,
                                      std::size_t max_size) {
  BitReader bits(stream);
  std::vector<std::byte> out;
  out.reserve(std::min(max_size, stream.size() * 8));  // every symbol takes a bit at least
  while (out.size() < max_size) {
    const auto symbol = tree.Decode(bits);
    if (!symbol) return Truncated(out.size());
    if (*symbol == kEndSymbol) break;
    unsigned byte = *symbol;
    if (byte == kEscape) {
      const auto literal = bits.Read(8);
      if (!literal) return Truncated(out.size());
      byte = *literal;
      if (!tree.Add(byte)) {
        return Fail("Huffman stream brings in byte " + Hex(byte) +
                    " as a literal, but it has a code already");
      }
      tree.Strengthen(byte);
    } else if (adapts) {
      tree.Strengthen(byte);
    }
    out.push_back(static_cast<std::byte>(byte));
  }
  return out;
}

}  // namespace

Result<std::vector<std::byte>> Unhuff(std::span<const std::byte> in, std::size_t max_size) {
  if (in.empty()) return Fail("Huffman stream is empty, without its weight table byte");
  const auto table = std::to_integer<unsigned>(in[0]);
  if (table >= std::size(kWeightTables)) {
    return Fail("Huffman stream names weight table " + std::to_string(table) +
                " (expected 0 to 8)");
  }
  Tree tree(kWeightTables[table]);
  return Decode(tree, table == 0, in.subspan(1), max_size);
}

}  // namespace veltrane::mpq
