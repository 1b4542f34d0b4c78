// Positioned and line output on the screen: SCROLL, SETPOS, DEVPOS, DEVOUT, QOUT, QQOUT
// and SETCOLOR, and the text each kind of value shows as. None of them raises an error:
// arguments of the wrong kind count as missing.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace lum {

// The text of a value on the screen: a string's bytes, a number in its own width and
// decimals, a date under the date format, NIL as "NIL", a logical as "T"/"F" (or
// ".T."/".F." with `dotted_logical`, as line output shows it). Arrays show nothing.
std::optional<std::string> screen_text(const Value& x, bool dotted_logical);

// SCROLL([nTop], [nLeft], [nBottom], [nRight], [nVert], [nHoriz]): scrolls or, with no
// counts, clears the region; with no arguments the whole screen. The cursor stays.
void SCROLL(const Value& top = {}, const Value& left = {}, const Value& bottom = {},
            const Value& right = {}, const Value& vert = {}, const Value& horiz = {});
// SETPOS(nRow, nCol) / DEVPOS(nRow, nCol): move the cursor when both are numbers.
void SETPOS(const Value& row, const Value& col);
void DEVPOS(const Value& row, const Value& col);
// SETPOS / DEVPOS of two whole numbers, without making values of them.
void set_position(int row, int col);
// DEVOUT(x, [cColor], [nRow], [nCol]): writes the text of x at the cursor (moved first
// when both nRow and nCol are numbers) in cColor when that is a string; bytes past the
// right edge are dropped and the cursor column advances by the whole length.
void DEVOUT(const Value& x, const Value& color = {}, const Value& row = {}, const Value& col = {});
// DEVOUT of a text at the cursor in the current colour, without making a value of it.
void devout_text(std::string_view text);
// QQOUT(x1, ..., xn): the texts through the line writer, one blank between two.
// QOUT(x1, ..., xn): a new line, then as QQOUT. Nothing shows while the console
// setting is off.
void QQOUT(std::span<const Value> args);
void QOUT(std::span<const Value> args);
template <class... A>
void QQOUT(const A&... a) {
  if constexpr (sizeof...(A) == 0) {
    QQOUT(std::span<const Value>());
  } else {
    const Value args[] = {Value(a)...};
    QQOUT(std::span<const Value>(args));
  }
}
template <class... A>
void QOUT(const A&... a) {
  if constexpr (sizeof...(A) == 0) {
    QOUT(std::span<const Value>());
  } else {
    const Value args[] = {Value(a)...};
    QOUT(std::span<const Value>(args));
  }
}

// cmd::SETFORMAT([fmt]): makes fmt the active screen format (the procedure a data-entry
// READ would run first); NIL leaves none active. This program has no data-entry screens,
// so only the setting itself exists.
namespace cmd {
void SETFORMAT(const Value& format = {});
}  // namespace cmd
// True while a screen format is active.
bool screen_format_active();

// SETCOLOR([cColor]): the colour setting before the call; a string argument becomes the
// setting, and its first entry the colour of the writes that follow.
std::string SETCOLOR();
std::string SETCOLOR(const Value& color);

}  // namespace lum
