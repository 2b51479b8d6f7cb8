#include "cxx_demangle.h"

#include <llvm/Demangle/ItaniumDemangle.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

namespace brindle::exe {

namespace {

namespace id = llvm::itanium_demangle;

// Every node gets a slot in front of it where the print-size measurement
// keeps its count, so that memoising needs no hash table.
constexpr std::size_t NODE_SLOT = 16;
constexpr std::uint64_t NOT_MEASURED = ~std::uint64_t{0};

std::uint64_t& measure_slot(const id::Node* n) {
  return *reinterpret_cast<std::uint64_t*>(const_cast<char*>(reinterpret_cast<const char*>(n)) - NODE_SLOT);
}

// Arena for the C++ parser's nodes; freed as a whole with the parser.
class NodeArena {
 public:
  void reset() { blocks_.clear(); }
  void* allocate(std::size_t size) {
    size = (size + 15) & ~std::size_t{15};
    if (blocks_.empty() || used_ + size > BLOCK) {
      std::size_t cap = size > BLOCK ? size : BLOCK;
      blocks_.emplace_back(new (std::align_val_t{16}) char[cap]);
      used_ = 0;
      if (size > BLOCK) {
        used_ = BLOCK;  // a dedicated block: the next allocation starts anew
        return blocks_.back().get();
      }
    }
    void* p = blocks_.back().get() + used_;
    used_ += size;
    return p;
  }
  template <class T, class... Args>
  T* makeNode(Args&&... args) {
    char* p = static_cast<char*>(allocate(NODE_SLOT + sizeof(T)));
    T* node = new (p + NODE_SLOT) T(std::forward<Args>(args)...);
    measure_slot(node) = NOT_MEASURED;
    return node;
  }
  void* allocateNodeArray(std::size_t n) { return allocate(n * sizeof(id::Node*)); }

 private:
  struct Free {
    void operator()(char* p) const { ::operator delete[](p, std::align_val_t{16}); }
  };
  static constexpr std::size_t BLOCK = 16 * 1024;
  std::vector<std::unique_ptr<char[], Free>> blocks_;
  std::size_t used_ = 0;
};

// The stock parser with a depth counter on every recursive production: a
// name nested deeper than CXX_DEMANGLE_MAX_DEPTH is rejected instead of
// running the stack out.
class BoundedParser : public id::AbstractManglingParser<BoundedParser, NodeArena> {
  using Base = id::AbstractManglingParser<BoundedParser, NodeArena>;

 public:
  using Base::Base;

  id::Node* parseType() { return guarded([&] { return Base::parseType(); }); }
  id::Node* parseExpr() { return guarded([&] { return Base::parseExpr(); }); }
  id::Node* parseEncoding() { return guarded([&] { return Base::parseEncoding(); }); }
  id::Node* parseName(NameState* state = nullptr) { return guarded([&] { return Base::parseName(state); }); }
  id::Node* parseTemplateArg() { return guarded([&] { return Base::parseTemplateArg(); }); }
  id::Node* parseNestedName(NameState* state) { return guarded([&] { return Base::parseNestedName(state); }); }
  id::Node* parseLocalName(NameState* state) { return guarded([&] { return Base::parseLocalName(state); }); }

 private:
  template <class F>
  id::Node* guarded(F f) {
    if (depth_ >= CXX_DEMANGLE_MAX_DEPTH) return nullptr;
    ++depth_;
    id::Node* n = f();
    --depth_;
    return n;
  }
  unsigned depth_ = 0;
};

// Measures the tree that printing `root` would walk: substitutions make the
// parsed names a DAG, and a short name whose parts refer back to each other
// twice per level prints exponentially many characters. Nodes are counted
// as the printer visits them (shared ones once per use), with the walk
// memoised in each node's slot so that the measuring itself stays linear.
class PrintSizeGuard {
 public:
  // True when printing stays within CXX_DEMANGLE_MAX_PRINTED_NODES nodes and
  // CXX_DEMANGLE_MAX_DEPTH levels.
  bool acceptable(const id::Node* root) { return count(root) <= CXX_DEMANGLE_MAX_PRINTED_NODES && !too_deep_; }

 private:
  std::uint64_t count(const id::Node* n) {
    if (n == nullptr) return 0;
    std::uint64_t& memo = measure_slot(n);
    if (memo != NOT_MEASURED) return memo;
    if (depth_ >= CXX_DEMANGLE_MAX_DEPTH) {
      too_deep_ = true;
      return 0;
    }
    ++depth_;
    memo = 0;  // a reference cycle counts once; the printer breaks it too
    std::uint64_t total = 1;
    n->visit([&](const auto* concrete) {
      using Concrete = std::remove_cvref_t<decltype(*concrete)>;
      if constexpr (std::is_same_v<Concrete, id::ForwardTemplateReference>) {
        total += count(concrete->Ref);  // prints its target, which match() does not expose
      } else {
        concrete->match([&](const auto&... args) { (add(total, args), ...); });
      }
    });
    --depth_;
    total = std::min(total, CXX_DEMANGLE_MAX_PRINTED_NODES + 1);
    memo = total;
    return total;
  }

  template <class T>
  void add(std::uint64_t& total, const T& arg) {
    if constexpr (std::is_convertible_v<T, const id::Node*>) {
      total += count(arg);
    } else if constexpr (std::is_same_v<T, id::NodeArray>) {
      for (const id::Node* child : arg) total += count(child);
    }
  }

  unsigned depth_ = 0;
  bool too_deep_ = false;
};

}  // namespace

std::optional<std::string> demangle_cxx(std::string_view name) {
  // Only mangled names: the parser would otherwise read a bare "f" as a type.
  if (!name.starts_with("_Z") && !name.starts_with("__Z")) return std::nullopt;
  BoundedParser parser(name.data(), name.data() + name.size());
  id::Node* ast = parser.parse();
  if (!ast || !PrintSizeGuard().acceptable(ast)) return std::nullopt;
  llvm::itanium_demangle::OutputBuffer ob;
  if (!llvm::itanium_demangle::initializeOutputBuffer(nullptr, nullptr, ob, 256)) return std::nullopt;
  ast->print(ob);
  std::string out(ob.getBuffer(), ob.getCurrentPosition());
  std::free(ob.getBuffer());
  return out;
}

}  // namespace brindle::exe
