#include "import/sdf_reader.h"

#include <algorithm>
#include <cstring>

#include "runtime/error.h"
#include "table/driver_subcodes.h"
#include "values/dates.h"
#include "values/numeric.h"

namespace lum {
namespace {

constexpr char kEofMark = 0x1A;

// Text widths of the binary and special types, which the text holds as numeric text,
// text or not at all.
struct TextForm {
  SdfKind kind;
  std::size_t width;
  int dec;
};

TextForm text_form(const SdfFieldDesc& f) {
  const std::size_t w = f.width > 0 ? static_cast<std::size_t>(f.width) : 0;
  switch (f.type) {
    case 'C':
      return {SdfKind::Character, w, 0};
    case 'N':
    case 'F':
      return {SdfKind::Numeric, w, f.dec};
    case 'D':
      return {SdfKind::Date, 8, 0};
    case 'L':
      return {SdfKind::Logical, 1, 0};
    case 'M':
      return {SdfKind::Memo, 0, 0};
    case 'I':
    case '2':
    case '4':
    case '+':
    case '^': {
      // Room for the widest value of the binary width, sign included.
      const std::size_t digits = w <= 1 ? 4 : w == 2 ? 6 : w == 3 ? 8 : w <= 4 ? 11 : 20;
      return {SdfKind::Numeric, digits, f.dec};
    }
    case 'B':
      if (f.width == 10) return {SdfKind::Memo, 0, 0};  // a memo reference
      [[fallthrough]];
    case '8':
    case 'O':
      return {SdfKind::Numeric, 20, f.dec};
    case 'Y':
      return {SdfKind::Numeric, 20, 4};
    case 'T':
      return {SdfKind::Character, f.width == 4 ? 12u : 23u, 0};  // time / date-time
    case '@':
    case '=':
      return {SdfKind::Character, 23, 0};
    case 'W':
    case 'P':
    case 'G':
    case 'Q':
    case 'V':
    case '0':
      return {SdfKind::Memo, 0, 0};
    default:
      return {SdfKind::None, 0, 0};
  }
}

bool same_in_text(const SdfFieldDesc& f, const TextForm& t) {
  switch (f.type) {
    case 'C':
    case 'N':
    case 'F':
      return true;
    case 'D':
      return f.width == 8;
    case 'L':
      return f.width == 1 && t.width == 1;
    default:
      return false;
  }
}

std::uint8_t attr(long v) { return static_cast<std::uint8_t>(std::clamp(v, 0L, 255L)); }

}  // namespace

void LineTally::add(std::uint64_t length, std::uint64_t record_length) {
  ++lines;
  if (length == record_length) return;
  if (first.size() < kFirstKept) first.push_back(lines);
  if (length < record_length) {
    const std::uint64_t by = record_length - length;
    min_short = shorter == 0 ? by : std::min(min_short, by);
    max_short = std::max(max_short, by);
    ++shorter;
  } else {
    const std::uint64_t by = length - record_length;
    min_long = longer == 0 ? by : std::min(min_long, by);
    max_long = std::max(max_long, by);
    ++longer;
  }
}

SdfLayout SdfLayout::from_structure(const std::vector<SdfFieldDesc>& structure) {
  SdfLayout layout;
  std::size_t offset = 0;
  for (const SdfFieldDesc& f : structure) {
    const TextForm t = text_form(f);
    if (!same_in_text(f, t)) layout.whole_image = false;
    layout.fields.push_back(SdfField{f.name, t.kind, t.width, offset, t.dec});
    offset += t.width;
  }
  layout.record_length = offset;
  return layout;
}

SdfReader::SdfReader(SdfLayout layout, std::string eol, ByteSource& source, std::string filename)
    : layout_(std::move(layout)),
      eol_(eol.empty() ? std::string("\r\n") : std::move(eol)),
      source_(source),
      filename_(std::move(filename)) {
  const std::size_t span = layout_.record_length + eol_.size() + 2;
  buf_.assign(1 + span, ' ');
  chunk_.assign(span, ' ');
  set_eof();
  recno_ = 0;
}

void SdfReader::set_eof() {
  positioned_ = false;
  eof_ = true;
  // Blanks, then the line end and the two spare bytes as blanks.
  std::fill(buf_.begin(), buf_.end(), ' ');
  std::memcpy(buf_.data() + 1 + layout_.record_length, eol_.data(), eol_.size());
}

std::size_t SdfReader::find_eol(const char* p, std::size_t n) const {
  return std::string_view(p, n).find(eol_);
}

bool SdfReader::read_at(std::uint64_t offset, char* data, std::size_t n, std::size_t& got) {
  got = 0;
  // Made on the first failure only; a retry goes on from the bytes already read.
  auto error = [&] {
    ErrorObject e = make_error(kErrRead, "SDF", kReadError, "", kCanRetry | kCanDefault);
    e.filename = filename_;
    return e;
  };
  return with_retry(error, [&](int& oscode) {
    IoResult r = source_.read_at(offset + got, data + got, n - got);
    got += static_cast<std::size_t>(r.bytes);
    oscode = r.oscode;
    return r.oscode == kOsOk;
  });
}

bool SdfReader::go_top() {
  current_ = 0;
  recno_ = 1;
  next_ = kNextUnknown;
  tally_ = LineTally();
  return read_record();
}

// Reads the record at current_ and works out where the next one begins.
bool SdfReader::read_record() {
  const std::size_t L = layout_.record_length;
  const std::size_t E = eol_.size();
  const std::size_t want = L + E + 2;
  char* rec = buf_.data() + 1;
  std::size_t n = 0;
  if (!read_at(current_, rec, want, n)) {
    set_eof();
    return false;
  }
  const bool short_read = n < want;  // the bytes end within the span
  if (short_read && n > 0 && rec[n - 1] == kEofMark) --n;
  if (n == 0) {
    set_eof();
    return true;
  }
  positioned_ = true;
  eof_ = false;
  buf_[0] = ' ';
  const std::size_t p = find_eol(rec, n);
  if (p != std::string_view::npos) {
    // A further record exists unless nothing follows the line end before the bytes
    // end; a line end before position L does not end the file.
    next_ = short_read && p + E == n ? kNoFurther : static_cast<std::int64_t>(current_ + p + E);
    tally_.add(p, L);
    if (p < L) std::memset(rec + p, ' ', L - p);
  } else {
    next_ = short_read ? kNoFurther : kNextUnknown;
    // The last line, without a line end, ends with the bytes; a longer one is
    // measured when the skip finds its end.
    if (short_read) tally_.add(n, L);
    if (n < L) std::memset(rec + n, ' ', L - n);
  }
  return true;
}

// The line was longer than the span: find its line end, chunk by chunk, carrying the
// last E - 1 bytes of a chunk to the front of the next so a split line end is found.
bool SdfReader::scan_for_next() {
  const std::size_t E = eol_.size();
  const std::size_t span = chunk_.size();
  const std::size_t keep = E - 1;
  std::uint64_t origin = current_;  // file offset of chunk_[0]
  std::size_t carried = 0;
  for (;;) {
    const std::size_t want = span - carried;
    std::size_t n = 0;
    if (!read_at(origin + carried, chunk_.data() + carried, want, n)) return false;
    const bool short_read = n < want;
    std::size_t total = carried + n;
    if (short_read && n > 0 && chunk_[total - 1] == kEofMark) --total;
    const std::size_t p = find_eol(chunk_.data(), total);
    if (p != std::string_view::npos) {
      next_ = short_read && p + E == total ? kNoFurther : static_cast<std::int64_t>(origin + p + E);
      tally_.add(origin + p - current_, layout_.record_length);
      return true;
    }
    if (short_read) {
      next_ = kNoFurther;
      // A final 0x1A carried from the chunk before is no part of the line either.
      const std::size_t end =
          n == 0 && total > 0 && chunk_[total - 1] == kEofMark ? total - 1 : total;
      tally_.add(origin + end - current_, layout_.record_length);
      return true;
    }
    std::memmove(chunk_.data(), chunk_.data() + total - keep, keep);
    origin += total - keep;
    carried = keep;
  }
}

bool SdfReader::skip() {
  if (!positioned_) {
    next_ = kNoFurther;
  } else if (next_ == kNextUnknown) {
    if (!scan_for_next()) {
      ++recno_;
      set_eof();
      return false;
    }
  }
  ++recno_;
  if (next_ == kNoFurther) {
    set_eof();
    return true;
  }
  current_ = static_cast<std::uint64_t>(next_);
  return read_record();
}

bool SdfReader::go_to(std::uint32_t recno) {
  if (!go_top()) return false;
  if (recno == 0) {  // no such record: end of file
    set_eof();
    return true;
  }
  while (recno_ < recno && !eof_) {
    if (!skip()) return false;
  }
  return true;
}

Value SdfReader::field_value(std::size_t i) const {
  const SdfField& f = layout_.fields[i];
  const std::string_view bytes(buf_.data() + 1 + f.offset, f.width);
  switch (f.kind) {
    case SdfKind::Character:
      return Value::string(bytes);
    case SdfKind::Numeric: {
      Number n = val_number(bytes);
      const long width = static_cast<long>(f.width);
      if (f.dec > 0) {
        n.d = n.as_double();
        n.i = 0;
        n.repr = NumRepr::Double;
        n.width = attr(width - f.dec - 1);
        n.dec = attr(f.dec);
      } else {
        n.width = attr(width);
        n.dec = 0;
      }
      return Value::number(n);
    }
    case SdfKind::Date: {
      int part[3] = {0, 0, 0};
      const int digits[3] = {4, 2, 2};
      std::size_t k = 0;
      for (int j = 0; j < 3; ++j) {
        for (int d = 0; d < digits[j]; ++d, ++k) {
          if (bytes[k] == '\0') return Value::date(0);
          part[j] = part[j] * 10 + (static_cast<unsigned char>(bytes[k]) - '0');
        }
      }
      return Value::date(date_encode(part[0], part[1], part[2]));
    }
    case SdfKind::Logical: {
      const char c = bytes.empty() ? ' ' : bytes[0];
      return Value::logical(c == 'T' || c == 't' || c == 'Y' || c == 'y');
    }
    case SdfKind::Memo:
      return Value::string("");
    case SdfKind::None:
      return Value();
  }
  return Value();
}

}  // namespace lum
