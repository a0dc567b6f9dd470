#include "settings/picture_filters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "config/document.h"
#include "settings/json_fields.h"
#include "vocabulary/text_format.h"

namespace vx {
namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::int32_t saturate(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp(value, kInt32Min, kInt32Max));
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
int hex_digit(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads text the way sscanf reads it with a pattern made only of literal characters and the
// conversions %d, %f, %x, %[^c] and %s: a literal must match the next character exactly (the
// filter patterns hold no white space, so none is skipped before a literal); %d, %f, %x and %s
// skip leading white space, %[^c] does not. A conversion that finds nothing to read, or a literal
// that does not match, ends the reading: every later conversion leaves its target untouched, as
// sscanf does. Trailing text after the pattern is ignored. Numbers too large for their target
// are held at its limit, where sscanf would leave the result undefined.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : rest_(text) {}

  // Whether everything so far was read.
  bool ok() const { return ok_; }

  Scanner& literal(std::string_view expected) {
    if (!ok_) return *this;
    if (rest_.substr(0, expected.size()) != expected) {
      ok_ = false;
    } else {
      rest_.remove_prefix(expected.size());
    }
    return *this;
  }

  Scanner& integer(std::int32_t& out) {  // %d
    if (!ok_) return *this;
    skip_space();
    const bool negative = take_sign();
    if (rest_.empty() || !is_digit(rest_.front())) return fail();
    std::int64_t value = 0;
    while (!rest_.empty() && is_digit(rest_.front())) {
      value = std::min<std::int64_t>(value * 10 + (rest_.front() - '0'), kInt32Max + 1);
      rest_.remove_prefix(1);
    }
    out = saturate(negative ? -value : value);
    return *this;
  }

  // %f, limited to decimal numbers: an optional fraction and an exponent that is taken only
  // when digits follow it. "inf", "nan" and hexadecimal reals never come from a built filter and
  // give no usable strength, so they count as nothing to read.
  Scanner& real(double& out) {
    if (!ok_) return *this;
    skip_space();
    const bool negative = take_sign();
    std::size_t length = 0;
    std::size_t digits = 0;
    while (length < rest_.size() && is_digit(rest_[length]))
      ++length, ++digits;
    if (length < rest_.size() && rest_[length] == '.') {
      ++length;
      while (length < rest_.size() && is_digit(rest_[length]))
        ++length, ++digits;
    }
    if (digits == 0) return fail();
    bool negative_exponent = false;
    if (length < rest_.size() && (rest_[length] == 'e' || rest_[length] == 'E')) {
      std::size_t end = length + 1;
      if (end < rest_.size() && (rest_[end] == '+' || rest_[end] == '-')) {
        negative_exponent = rest_[end] == '-';
        ++end;
      }
      if (end < rest_.size() && is_digit(rest_[end])) {
        while (end < rest_.size() && is_digit(rest_[end]))
          ++end;
        length = end;
      } else {
        negative_exponent = false;
      }
    }
    // from_chars, unlike strtod, ignores the locale a window toolkit may have set.
    double value = 0;
    const auto [end, error] =
        std::from_chars(rest_.data(), rest_.data() + length, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
      value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (error != std::errc{} || end != rest_.data() + length) {
      return fail();
    }
    rest_.remove_prefix(length);
    out = negative ? -value : value;
    return *this;
  }

  Scanner& hex(std::uint32_t& out) {  // %x, with an optional 0x prefix and sign, as strtoul
    if (!ok_) return *this;
    skip_space();
    const bool negative = take_sign();
    if (rest_.size() >= 3 && rest_[0] == '0' && (rest_[1] == 'x' || rest_[1] == 'X') &&
        hex_digit(rest_[2]) >= 0) {
      rest_.remove_prefix(2);
    }
    if (rest_.empty() || hex_digit(rest_.front()) < 0) return fail();
    std::uint64_t value = 0;
    while (!rest_.empty() && hex_digit(rest_.front()) >= 0) {
      value = std::min<std::uint64_t>(value * 16 + static_cast<std::uint64_t>(hex_digit(rest_[0])),
                                      std::numeric_limits<std::uint32_t>::max());
      rest_.remove_prefix(1);
    }
    const auto result = static_cast<std::uint32_t>(value);
    out = negative ? 0u - result : result;
    return *this;
  }

  Scanner& until(char stop, std::string& out) {  // %[^stop]: at least one character
    if (!ok_) return *this;
    const std::size_t length = std::min(rest_.find(stop), rest_.size());
    if (length == 0) return fail();
    out.assign(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return *this;
  }

  Scanner& word(std::string& out) {  // %s
    if (!ok_) return *this;
    skip_space();
    std::size_t length = 0;
    while (length < rest_.size() && !is_space(rest_[length]))
      ++length;
    if (length == 0) return fail();
    out.assign(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return *this;
  }

 private:
  Scanner& fail() {
    ok_ = false;
    return *this;
  }
  void skip_space() {
    while (!rest_.empty() && is_space(rest_.front()))
      rest_.remove_prefix(1);
  }
  bool take_sign() {
    if (rest_.empty() || (rest_.front() != '+' && rest_.front() != '-')) return false;
    const bool negative = rest_.front() == '-';
    rest_.remove_prefix(1);
    return negative;
  }

  std::string_view rest_;
  bool ok_ = true;
};

// The integer of an x or y part: leading white space, an optional sign and the decimal digits
// up to the first other character; 0 when there are no digits.
std::int32_t leading_integer(std::string_view part) {
  std::int32_t value = 0;
  Scanner(part).integer(value);
  return value;
}

// The text right after the first occurrence of marker, or nothing when the entry lacks it.
std::optional<std::string_view> after(std::string_view entry, std::string_view marker) {
  const std::size_t at = entry.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  return entry.substr(at + marker.size());
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(text[i]) != lower(prefix[i])) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_space(text.back()))
    text.remove_suffix(1);
  return text;
}

// One aligned offset: the part starts with prefix when measured from the right or bottom edge.
void read_placement(std::string_view part, std::string_view prefix, bool ignore_case, bool& aligned,
                    std::int32_t& offset) {
  aligned = ignore_case ? starts_with_ignoring_case(part, prefix) : part.starts_with(prefix);
  offset = leading_integer(aligned ? part.substr(prefix.size()) : part);
}

std::string placement(bool aligned, std::string_view prefix, std::int32_t offset) {
  return (aligned ? std::string(prefix) : std::string()) + std::to_string(offset);
}

std::string hex_byte(std::uint8_t value) {
  constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[value >> 4], kDigits[value & 15]};
}

}  // namespace

std::optional<std::string> build_filter(const CropPadFilter& tab) {
  if (!tab.enabled) return std::nullopt;
  if (tab.left == 0 && tab.top == 0 && tab.right == 0 && tab.bottom == 0) return std::nullopt;
  // Sums in 64 bits, so that the text says what the fields say even at their limits.
  const std::int64_t width = std::int64_t{tab.left} + tab.right;
  const std::int64_t height = std::int64_t{tab.top} + tab.bottom;
  const bool pad = tab.mode == CropPadFilter::kPad;
  return std::string(pad ? "pad=iw+" : "crop=iw-") + std::to_string(width) +
         (pad ? ":ih+" : ":ih-") + std::to_string(height) + ":" + std::to_string(tab.left) + ":" +
         std::to_string(tab.top);
}

bool parse_filter(CropPadFilter& tab, std::string_view entry) {
  std::optional<std::string_view> rest = after(entry, "crop=");
  std::int32_t mode = CropPadFilter::kCrop;
  if (!rest) {
    rest = after(entry, "pad=");
    mode = CropPadFilter::kPad;
  }
  if (!rest) return false;
  tab.mode = mode;
  const char* sign = mode == CropPadFilter::kPad ? "+" : "-";
  std::int32_t width = 0;
  std::int32_t height = 0;
  // left and top are read into the tab itself: a field the pattern does not reach keeps the
  // value it had.
  Scanner(*rest)
      .literal(std::string("iw") + sign)
      .integer(width)
      .literal(std::string(":ih") + sign)
      .integer(height)
      .literal(":")
      .integer(tab.left)
      .literal(":")
      .integer(tab.top);
  tab.right = saturate(std::int64_t{width} - tab.left);
  tab.bottom = saturate(std::int64_t{height} - tab.top);
  tab.enabled = true;
  return true;
}

std::optional<std::string> build_filter(const BlurSharpenFilter& tab) {
  if (!tab.enabled) return std::nullopt;
  const std::string matrix = std::to_string(2 * std::int64_t{tab.radius} + 1);
  double amount = tab.strength / 10.0;
  if (tab.mode != BlurSharpenFilter::kSharpen) amount = -amount;
  const std::string half = matrix + ":" + matrix + ":" + fixed_number_text(amount, 1);
  return "unsharp=" + half + ":" + half;
}

bool parse_filter(BlurSharpenFilter& tab, std::string_view entry) {
  const std::optional<std::string_view> rest = after(entry, "unsharp=");
  if (!rest) return false;
  // Every integer is read into the same place, so the last one read is the one that counts;
  // likewise for the reals.
  std::int32_t matrix = 0;
  double amount = 0;
  Scanner(*rest)
      .integer(matrix)
      .literal(":")
      .integer(matrix)
      .literal(":")
      .real(amount)
      .literal(":")
      .integer(matrix)
      .literal(":")
      .integer(matrix)
      .literal(":")
      .real(amount);
  tab.mode = amount > 0 ? BlurSharpenFilter::kSharpen : BlurSharpenFilter::kBlur;
  tab.radius = static_cast<std::int32_t>((std::int64_t{matrix} - 1) / 2);
  const double tenths = std::fabs(amount) * 10;
  tab.strength = tenths < static_cast<double>(kInt32Max) ? static_cast<std::int32_t>(tenths)
                                                         : static_cast<std::int32_t>(kInt32Max);
  tab.enabled = true;
  return true;
}

std::optional<std::string> build_filter(const OverlayFilter& tab) {
  if (!tab.enabled) return std::nullopt;
  if (!tab.file.empty()) {
    return "movie='" + tab.file + "', setpts=N/TB/FR[logo]; [0][logo]overlay=" +
           placement(tab.right_aligned, "W-w-", tab.horizontal_offset) + ":" +
           placement(tab.bottom_aligned, "H-h-", tab.vertical_offset);
  }
  if (tab.text.empty()) return std::nullopt;
  std::string filter = "drawtext=";
  if (tab.text != kTimestampText) filter += "text='" + tab.text + "':";
  filter += "fontsize=" + std::to_string(tab.font_size) + ":fontcolor=#" + hex_byte(tab.red) +
            hex_byte(tab.green) + hex_byte(tab.blue) +
            ":x=" + placement(tab.right_aligned, "w-tw-", tab.horizontal_offset) +
            ":y=" + placement(tab.bottom_aligned, "h-th-", tab.vertical_offset) +
            ":shadowx=1:shadowy=1";
  return filter;
}

bool parse_filter(OverlayFilter& tab, std::string_view entry) {
  // The x and y parts are read into texts of their own: a part the pattern does not reach is
  // empty and so gives a left or top placement at offset 0.
  std::string x_part;
  std::string y_part;
  if (const std::optional<std::string_view> rest = after(entry, "[logo]overlay=")) {
    std::string file;  // empty unless the entry begins with movie='
    Scanner(entry).literal("movie='").until('\'', file).literal("'");
    tab.file = trim(file);
    Scanner(*rest).until(':', x_part).literal(":").word(y_part);
    read_placement(x_part, "W-w-", false, tab.right_aligned, tab.horizontal_offset);
    read_placement(y_part, "H-h-", false, tab.bottom_aligned, tab.vertical_offset);
  } else if (const std::optional<std::string_view> text_rest = after(entry, "drawtext=")) {
    std::string text;
    Scanner scanner(*text_rest);
    if (text_rest->find("text=") != std::string_view::npos) {
      scanner.literal("text='").until('\'', text).literal("':");
    }
    // The font size goes straight into the tab and keeps its value when not reached; so does
    // the colour.
    std::uint32_t colour = 0;
    scanner.literal("fontsize=").integer(tab.font_size).literal(":fontcolor=#").hex(colour);
    if (scanner.ok()) {
      tab.red = static_cast<std::uint8_t>(colour >> 16);
      tab.green = static_cast<std::uint8_t>(colour >> 8);
      tab.blue = static_cast<std::uint8_t>(colour);
    }
    scanner.literal(":x=").until(':', x_part).literal(":y=").word(y_part);
    tab.text = text.empty() ? std::string(kTimestampText) : text;
    read_placement(x_part, "w-tw-", true, tab.right_aligned, tab.horizontal_offset);
    read_placement(y_part, "h-th-", true, tab.bottom_aligned, tab.vertical_offset);
  } else {
    return false;
  }
  tab.enabled = true;
  return true;
}

void set_blur_radius(BlurSharpenFilter& tab, std::int32_t typed) {
  tab.radius = std::clamp(typed, kBlurRadiusMin, kBlurRadiusMax);
}

void set_blur_strength(BlurSharpenFilter& tab, std::int32_t typed) {
  tab.strength = std::clamp(typed, kBlurStrengthMin, kBlurStrengthMax);
}

void offer_filter(PictureFilterTabs& tabs, std::string_view entry) {
  parse_filter(tabs.crop_pad, entry);
  parse_filter(tabs.blur_sharpen, entry);
  parse_filter(tabs.overlay, entry);
}

void load_picture_filters(const cJSON* channel, PictureFilterTabs& tabs) {
  tabs = PictureFilterTabs{};
  for (const std::string& entry : string_array(config_object(channel, "input"), "filters")) {
    offer_filter(tabs, entry);
  }
}

bool save_picture_filters(cJSON* channel, const PictureFilterTabs& tabs) {
  cJSON* filters = config_array(config_object(channel, "input"), "filters");
  if (!cJSON_IsArray(filters)) return false;
  const auto empty = [filters] {
    while (filters->child != nullptr)
      cJSON_DeleteItemFromArray(filters, 0);
  };
  const auto append = [filters](const std::string& text) {
    const std::string stored = cut_to_bytes(text, kFilterTextMaxBytes);
    cJSON_AddItemToArray(filters, cJSON_CreateString(stored.c_str()));
  };
  empty();
  if (const auto filter = build_filter(tabs.crop_pad)) append(*filter);
  if (const auto filter = build_filter(tabs.blur_sharpen)) append(*filter);
  if (const auto filter = build_filter(tabs.overlay)) {
    empty();
    append(*filter);
  }
  return true;
}

}  // namespace vx
