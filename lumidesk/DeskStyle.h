// The look lumidesk gives the whole application before its window opens:
// the Fusion style, the optional font file, the dark palette, the style
// sheet and the 14-point font. Needs a QApplication.
#pragma once

void applyDeskStyle();
