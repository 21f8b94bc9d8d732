#include "settings/SettingsForm.h"

#include "settings/AppSettings.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vardelle {

QScrollArea* scrollingPage(QWidget* content)
{
    auto* page = new QScrollArea;
    page->setWidget(content);
    page->setWidgetResizable(true);
    page->setFrameShape(QFrame::NoFrame);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return page;
}

QVBoxLayout* addSection(QVBoxLayout* column, const QString& title, const QString& objectName)
{
    auto* section = new QGroupBox(title);
    section->setObjectName(objectName);
    auto* rows = new QVBoxLayout(section);
    rows->setSpacing(8);
    column->addWidget(section);
    return rows;
}

QGroupBox* sectionOf(QVBoxLayout* rows)
{
    return qobject_cast<QGroupBox*>(rows->parentWidget());
}

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

void makeSecondary(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor dimmed = palette.color(group, QPalette::PlaceholderText);
        palette.setColor(group, QPalette::WindowText, dimmed);
        palette.setColor(group, QPalette::Text, dimmed);
    }
    widget->setPalette(palette);
}

void makeCallout(QWidget* widget)
{
    QFont font = widget->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.9);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qMax(1, font.pixelSize() * 9 / 10));
    widget->setFont(font);
}

QLabel* captionLabel(const QString& text, QWidget* parent)
{
    QLabel* label = plainLabel(text, parent);
    label->setWordWrap(true);
    makeCallout(label);
    makeSecondary(label);
    return label;
}

QLabel* addLabelledValue(QBoxLayout* rows, const QString& label, const QString& valueObjectName,
                         QWidget** row)
{
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plainLabel(label));
    layout->addStretch(1);
    QLabel* value = plainLabel(QString());
    value->setObjectName(valueObjectName);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(value);
    makeSecondary(line);
    rows->addWidget(line);
    if (row)
        *row = line;
    return value;
}

QPushButton* pushButton(const QString& text, const QString& objectName)
{
    auto* button = new QPushButton(text);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

QString withMnemonic(const QString& text, QChar letter)
{
    QString marked = QString(text).replace(u'&', u"&&"_qs);
    const qsizetype at = marked.indexOf(letter);
    if (at >= 0)
        marked.insert(at, u'&');
    return marked;
}

QPushButton* actionButton(QAction* action, const QString& objectName, QChar mnemonic)
{
    QPushButton* button = pushButton(withMnemonic(action->text(), mnemonic), objectName);
    auto follow = [button, action, mnemonic] {
        button->setText(withMnemonic(action->text(), mnemonic));
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    return button;
}

QCheckBox* boundToggle(const QString& text, const QString& objectName, AppSettings& settings,
                       bool (AppSettings::*get)() const, void (AppSettings::*set)(bool),
                       void (AppSettings::*changed)(bool))
{
    auto* toggle = new QCheckBox(text);
    toggle->setObjectName(objectName);
    toggle->setChecked((settings.*get)());
    QObject::connect(toggle, &QCheckBox::toggled, &settings,
                     [&settings, set](bool on) { (settings.*set)(on); });
    QObject::connect(&settings, changed, toggle, [toggle](bool on) {
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(on);
    });
    return toggle;
}

} // namespace vardelle
