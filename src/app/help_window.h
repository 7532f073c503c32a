// Help: the page next to the program, in the desktop's browser; where none opens it (no browser
// installed, no opener, the page missing), the page the program carries, in a window of its own.
#pragma once

class QWidget;

namespace qv {

void ShowHelp(QWidget* parent);
// The program's own help window (one at a time; a second call raises it).
void ShowOwnHelp(QWidget* parent);

}  // namespace qv
