#pragma once
// The main window's pictures, drawn in code: the lamp board, the lamp strips that lie over its
// lamps, and the glyphs of the top panel's buttons.
//
// Sizes are logical pixels. Each picture is drawn from its painter code at Ratio() device
// pixels per logical pixel (its device pixel ratio says so), so that it stays sharp on a
// high-density screen; at a ratio of 1 it is the plain picture.

#include <QImage>
#include <QRect>

namespace Artwork {

// The ratio the pictures are drawn at: the highest device pixel ratio of the screens, rounded
// up to a whole number (1 without an application).
int Ratio();

// Where the board lies in the window, and the size of one of its two pictures.
inline constexpr QRect BoardPlace{39, 470, 619, 105};

// Window placement of the lamp picture of output Dk (k = 0 to 7).
QRect LampPlace(int k);

// The board sheet, 619 x 210: a wooden board with eight round lamps marked D7, D6, ..., D0 from
// left to right; the upper picture shows them dark, the lower one lit. Drawn once per ratio.
QImage BoardSheet();

// The board sheet drawn anew at `ratio` device pixels per logical pixel; callable on any thread.
QImage DrawBoardSheet(int ratio);

// Starts drawing the board sheet at the current ratio on a thread of the application's pool, so
// that the window is made meanwhile; BoardSheet() waits for it. Call from the GUI thread.
void PrepareBoardSheet();

// The two-frame strip of lamp Dk: frame 1 the lamp lit, frame 2 dark, each cut from the board
// exactly where the lamp picture lies, so that it covers the board's lamp seamlessly.
QImage LampStrip(int k);

// 16 x 16 lamp of the clock indicator on a button-face ground: lit green or dark.
QImage IndicatorLamp(bool lit);

// 20 x 20 clock face in a red frame.
QImage ClockGlyph();

// 19 x 19 open folder with an arrow.
QImage OpenFolderGlyph();

// 16 x 16 floppy disk.
QImage FloppyGlyph();

// 18 x 18 question mark of the help button: yellow, or grey when the button is disabled.
QImage QuestionGlyph(bool enabled);

} // namespace Artwork
