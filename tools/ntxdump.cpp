// ntxdump: prints an NTX index file's header and its pages, either in tree order from
// the root (the default) or every block in file order (--blocks), with each key's
// record number and child page. Damaged bytes are reported, never trusted.
//
//   ntxdump [--blocks] [--hex] FILE.ntx
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "index/ntx_format.h"
#include "platform/file.h"
#include "platform/terminal.h"

namespace {

bool g_hex = false;

std::string printable(const std::uint8_t* p, std::size_t n) {
  std::string out;
  bool hex = g_hex;
  for (std::size_t i = 0; i < n && !hex; ++i) hex = p[i] < 32 || p[i] >= 127;
  if (hex) {
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, "%02X", p[i]);
      out += b;
    }
    return "x'" + out + "'";
  }
  return "\"" + std::string(reinterpret_cast<const char*>(p), n) + "\"";
}

class Dumper {
 public:
  Dumper(lum::File& f, const lum::NtxHeader& h, std::uint64_t size) : f_(f), h_(h), size_(size) {}

  // Prints one page; false when it could not be read or fails the page check.
  bool page(lum::NtxAddr a, int depth, std::vector<lum::NtxAddr>* children) {
    std::uint8_t b[lum::kNtxBlockSize];
    std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    if (a % lum::kNtxBlockSize != 0 || a == 0 || a + lum::kNtxBlockSize > size_) {
      std::printf("%spage %u: address outside the file\n", indent.c_str(), a);
      return false;
    }
    lum::IoResult r = f_.read_at(a, b, sizeof b);
    if (r.bytes < sizeof b) {
      std::printf("%spage %u: short read (os code %d)\n", indent.c_str(), a, r.oscode);
      return false;
    }
    lum::NtxPageView v(b, h_.max_keys, h_.key_size);
    if (!v.check()) {
      std::printf("%spage %u: count %u or slot table impossible\n", indent.c_str(), a,
                  lum::get_le16(b));
      return false;
    }
    int n = v.count();
    std::printf("%spage %u: %d key%s\n", indent.c_str(), a, n, n == 1 ? "" : "s");
    for (int i = 0; i < n; ++i) {
      std::printf("%s  [%d] rec %u child %u key %s\n", indent.c_str(), i, v.record(i), v.child(i),
                  printable(v.key(i), h_.key_size).c_str());
      if (children != nullptr && v.child(i) != 0) children->push_back(v.child(i));
    }
    std::printf("%s  [%d] rightmost child %u\n", indent.c_str(), n, v.child(n));
    if (children != nullptr && v.child(n) != 0) children->push_back(v.child(n));
    return true;
  }

  // Prints the tree from `a` depth first; a page met twice is named, not followed.
  void tree(lum::NtxAddr a, int depth) {
    if (depth > lum::kNtxMaxLevels || !seen_.insert(a).second) {
      std::printf("%*spage %u: already visited or too deep\n", depth * 2, "", a);
      return;
    }
    std::vector<lum::NtxAddr> children;
    if (!page(a, depth, &children)) return;
    for (lum::NtxAddr c : children) tree(c, depth + 1);
  }

 private:
  lum::File& f_;
  const lum::NtxHeader& h_;
  std::uint64_t size_;
  std::set<lum::NtxAddr> seen_;
};

}  // namespace

int main(int argc, char** argv) {
  lum::prepare_standard_streams();
  bool blocks = false;
  const char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--blocks") == 0) {
      blocks = true;
    } else if (std::strcmp(argv[i], "--hex") == 0) {
      g_hex = true;
    } else {
      name = argv[i];
    }
  }
  if (name == nullptr) {
    std::fprintf(stderr, "usage: ntxdump [--blocks] [--hex] FILE.ntx\n");
    return 2;
  }
  lum::File f;
  if (int os = f.open(name, lum::FileAccess::ReadOnly, lum::FileShare::Shared); os != 0) {
    std::fprintf(stderr, "ntxdump: cannot open %s (os code %d)\n", name, os);
    return 1;
  }
  std::uint64_t size = f.size().bytes;
  std::uint8_t block[lum::kNtxBlockSize] = {};
  if (f.read_at(0, block, sizeof block).bytes < sizeof block) {
    std::fprintf(stderr, "ntxdump: %s is shorter than its header block\n", name);
    return 1;
  }
  lum::NtxHeader h;
  std::string why;
  bool ok = lum::decode_ntx_header(block, h, &why);
  std::printf("file            %s (%llu bytes, %llu blocks)\n", name,
              static_cast<unsigned long long>(size),
              static_cast<unsigned long long>(size / lum::kNtxBlockSize));
  std::printf("signature       0x%04X\n", lum::get_le16(block));
  if (!ok) {
    std::printf("header rejected: %s\n", why.c_str());
    return 1;
  }
  std::printf("version         %u\n", h.version);
  std::printf("root            %u\n", h.root);
  std::printf("free chain      %u\n", h.free_head);
  std::printf("key size        %u (item %u, decimals %u)\n", h.key_size, h.item_size, h.key_dec);
  std::printf("keys per page   %u (half %u)\n", h.max_keys, h.half_page);
  std::printf("key expression  \"%s\"\n", h.key_expr.c_str());
  std::printf("FOR condition   \"%s\"\n", h.for_expr.c_str());
  std::printf("order name      \"%s\"\n", h.order_name.c_str());
  std::printf("unique %d  descending %d  custom %d\n", h.unique, h.descending, h.custom);

  Dumper d(f, h, size);
  if (blocks) {
    for (std::uint64_t a = lum::kNtxBlockSize; a + lum::kNtxBlockSize <= size;
         a += lum::kNtxBlockSize) {
      d.page(static_cast<lum::NtxAddr>(a), 0, nullptr);
    }
  } else if (h.root == 0) {
    std::printf("no root\n");
  } else {
    d.tree(h.root, 0);
  }
  return 0;
}
