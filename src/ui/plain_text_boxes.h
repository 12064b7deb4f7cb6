// Message boxes, labels and tooltips that show their texts as they are. A
// file name may hold anything ("<b>x</b>", "<img src=...>", "<br>"), and Qt
// reads a text that looks like markup as rich text unless told otherwise;
// every box, label and tooltip of the window that can show a name or a path
// goes through these, so a name is always shown by its own characters.
//
// GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QLabel;
class QWidget;

namespace quindelo::ui {

// A warning box over parent with caption and text (plain text), one OK.
void ShowPlainWarning(QWidget* parent, const QString& caption, const QString& text);

// A question box over parent (plain text) with buttons; the button chosen,
// or the escape answer (Cancel when offered, else No) when the box is closed.
QMessageBox::StandardButton AskPlainQuestion(QWidget* parent, const QString& caption,
                                             const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton default_button);

// Makes box show its texts as plain text.
void MakePlain(QMessageBox* box);

// A label that shows text as plain text.
QLabel* PlainLabel(const QString& text, QWidget* parent);

// A tooltip text that shows text by its own characters: tooltips have no
// text format of their own, so the text is escaped into markup that keeps
// its blanks and line breaks.
QString PlainToolTip(const QString& text);

}  // namespace quindelo::ui
