#pragma once

#include <QString>

class QAction;
class QBoxLayout;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace vardelle {

class AppSettings;

// The pieces every settings tab is made of: a scrolling column of titled sections, rows of
// plain text in the secondary and callout styles, and toggles bound to a preference.

// A page for `content`: a vertical scroll bar appears when the sections outgrow the tab.
QScrollArea* scrollingPage(QWidget* content);
// A titled section appended to `column`; its rows go into the returned layout.
QVBoxLayout* addSection(QVBoxLayout* column, const QString& title, const QString& objectName);
QGroupBox* sectionOf(QVBoxLayout* rows);

// A label that shows `text` as it stands, never as markup.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr);
// Dimmed, in the palette's placeholder colour.
void makeSecondary(QWidget* widget);
// A step smaller than the body text.
void makeCallout(QWidget* widget);
// A wrapped paragraph in the callout size and secondary colour.
QLabel* captionLabel(const QString& text, QWidget* parent = nullptr);

// A row "label ... value", both dimmed; the value label is returned so the owner can change it.
QLabel* addLabelledValue(QBoxLayout* rows, const QString& label, const QString& valueObjectName,
                         QWidget** row = nullptr);

// A push button that never becomes the window's default button.
QPushButton* pushButton(const QString& text, const QString& objectName);
// A push button for a shared command: it shows the action's title, `mnemonic` (a letter of it)
// underlined for Alt, is enabled while the action is, and triggers it when clicked.
QPushButton* actionButton(QAction* action, const QString& objectName, QChar mnemonic);
// `text` with its first `letter` marked as the mnemonic ("&"), any "&" of its own kept as text.
QString withMnemonic(const QString& text, QChar letter);

// A toggle bound both ways to a Boolean preference: flipping it writes the preference at once,
// and every assignment of the preference, from anywhere, moves it.
QCheckBox* boundToggle(const QString& text, const QString& objectName, AppSettings& settings,
                       bool (AppSettings::*get)() const, void (AppSettings::*set)(bool),
                       void (AppSettings::*changed)(bool));

} // namespace vardelle
