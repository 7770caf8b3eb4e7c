/*
 * The options of one run: the 50 characters of the option string, copied
 * when the run starts.  Character N is option N and is set when it is '1';
 * character 49 is the digit of decimal places.  The enum and the built-in
 * default come from the option table.
 *
 * On the floor: includes nothing of the plug-in but the table.  The
 * string the host and the dialog share, and its file, belong to the
 * binding (binding/options.h); the writers see only the run's copy.
 */
#ifndef QEL_CORE_OPTIONS_H
#define QEL_CORE_OPTIONS_H

#include "core/option_table.h"

namespace qel {

constexpr int kOptionCount = 50;

// opt_model_info = 1, ... opt_decimals = 49: the numbers of the table.
enum OptionIndex : int {
#define QEL_OPTION_ENUM(number, name, value, meaning) opt_##name = number,
  QEL_OPTION_TABLE(QEL_OPTION_ENUM)
#undef QEL_OPTION_ENUM
};

namespace detail {
struct OptionText {
  char chars[kOptionCount + 1];
};
constexpr OptionText make_default_options() {
  OptionText text{};
  for (int i = 0; i < kOptionCount; ++i) text.chars[i] = '0';
#define QEL_OPTION_DEFAULT(number, name, value, meaning) text.chars[number] = value;
#define QEL_RESERVED_DEFAULT(number, value) text.chars[number] = value;
  QEL_OPTION_TABLE(QEL_OPTION_DEFAULT)
  QEL_OPTION_RESERVED(QEL_RESERVED_DEFAULT)
#undef QEL_OPTION_DEFAULT
#undef QEL_RESERVED_DEFAULT
  return text;
}
inline constexpr OptionText kDefaultOptionText = make_default_options();
}  // namespace detail

// The built-in default: every option's default from the table, '0'
// elsewhere.
inline constexpr const char *kDefaultOptions = detail::kDefaultOptionText.chars;

class Options {
 public:
  // The built-in default.
  constexpr Options() : text_(detail::kDefaultOptionText) {}
  // The characters of `text` over the default: a shorter text replaces only
  // the leading options, a longer one only its first 50.  Null is the
  // default.
  explicit Options(const char *text) : text_(detail::kDefaultOptionText) {
    for (int i = 0; text != nullptr && i < kOptionCount && text[i] != '\0'; ++i) {
      text_.chars[i] = text[i];
    }
  }

  // True when character `index` is '1'.  Indices outside 0..49 are never set.
  bool is_set(int index) const {
    return index >= 0 && index < kOptionCount && text_.chars[index] == '1';
  }

  // The digit of decimal places, 0..9: a character that is not a digit is
  // clamped into that range, taken as the byte it is (0..255) whether or
  // not char is signed here.
  int decimal_places() const {
    const int places = static_cast<unsigned char>(text_.chars[opt_decimals]) - '0';
    return places < 0 ? 0 : (places > 9 ? 9 : places);
  }

  // The 50 characters and a terminator.
  const char *text() const { return text_.chars; }

 private:
  detail::OptionText text_;
};

}  // namespace qel

#endif  // QEL_CORE_OPTIONS_H
