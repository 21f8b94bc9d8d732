#include "settings/HeadlineSettingsTab.h"

#include "bubble/CategoryIcon.h"
#include "library/Library.h"
#include "news/FeedSource.h"
#include "settings/AppSettings.h"
#include "settings/SettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace vardelle {

namespace {

// The blurb sits under the toggle's text, past its box.
constexpr int blurbIndent = 22;

// Shows a refusal in `label`, which wraps at spaces only: a word too long for a line of the tab
// (a term quoted whole) is cut in its middle, so the tab never grows wider than its window. The
// whole text is the label's tooltip then.
void showRefusal(QLabel* label, const QString& text)
{
    const QFontMetrics metrics(label->font());
    const int widest = metrics.averageCharWidth() * 32;
    QStringList lines = text.split(u'\n');
    bool cut = false;
    for (QString& line : lines) {
        QStringList words = line.split(u' ');
        for (QString& word : words) {
            const QString shown = metrics.elidedText(word, Qt::ElideMiddle, widest);
            cut = cut || shown != word;
            word = shown;
        }
        line = words.join(u' ');
    }
    label->setText(lines.join(u'\n'));
    label->setToolTip(cut ? text : QString());
}

} // namespace

HeadlineSettingsTab::HeadlineSettingsTab(AppSettings& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);

    QVBoxLayout* categories =
        addSection(column, QStringLiteral("Categories to gather"), QStringLiteral("categories"));
    for (const NewsCategory category : allNewsCategories) {
        auto* row = new QVBoxLayout;
        row->setSpacing(4);
        auto* toggle = new QCheckBox(title(category));
        toggle->setObjectName(categoryName(category));
        toggle->setIcon(categoryIcon(category));
        connect(toggle, &QCheckBox::toggled, this,
                [this, category](bool on) { setCategory(category, on); });
        m_categoryToggles.insert(category, toggle);
        row->addWidget(toggle);
        QLabel* about = captionLabel(blurb(category));
        about->setContentsMargins(blurbIndent, 0, 0, 0);
        row->addWidget(about);
        categories->addLayout(row);
    }

    for (const NewsCategory category : allNewsCategories) {
        QVBoxLayout* feeds = addSection(column, QStringLiteral("Sources — ") + title(category),
                                        sourcesName(category));
        m_sourceSections.insert(category, sectionOf(feeds));
        for (const FeedSource& source : FeedSource::sources(category)) {
            auto* toggle = new QCheckBox(source.name);
            toggle->setObjectName(feedName(source.id));
            const QString id = source.id;
            connect(toggle, &QCheckBox::toggled, this, [this, id](bool on) { setFeed(id, on); });
            m_feedToggles.insert(source.id, toggle);
            feeds->addWidget(toggle);
        }
    }
    QVBoxLayout* own =
        addSection(column, QStringLiteral("Your feeds"), QStringLiteral("own-feeds"));
    m_ownFeedRows = new QVBoxLayout;
    m_ownFeedRows->setSpacing(6);
    own->addLayout(m_ownFeedRows);
    m_addFeed = new QPushButton(QStringLiteral("Add &Feed…"));
    m_addFeed->setObjectName(QStringLiteral("add-feed"));
    connect(m_addFeed, &QPushButton::clicked, this, &HeadlineSettingsTab::openAddFeed);
    own->addWidget(m_addFeed, 0, Qt::AlignLeft);

    QVBoxLayout* watch =
        addSection(column, QStringLiteral("Watch list"), QStringLiteral("watch-list"));
    watch->addWidget(captionLabel(QStringLiteral(
        "Stories naming a term (a vendor, a product, a CVE id) come first in the briefing.")));
    m_watchTerms = new QListWidget;
    m_watchTerms->setObjectName(QStringLiteral("watch-terms"));
    m_watchTerms->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_watchTerms->setMaximumHeight(120);
    watch->addWidget(m_watchTerms);
    auto* termRow = new QHBoxLayout;
    m_newTerm = new QLineEdit;
    m_newTerm->setObjectName(QStringLiteral("watch-term"));
    m_newTerm->setPlaceholderText(QStringLiteral("Ivanti, FortiOS, CVE-2024-3400…"));
    m_newTerm->setMaxLength(int(AppSettings::maxTermLength) * 2);
    m_addTerm = new QPushButton(QStringLiteral("&Add"));
    m_addTerm->setObjectName(QStringLiteral("add-term"));
    m_removeTerms = new QPushButton(QStringLiteral("&Remove"));
    m_removeTerms->setObjectName(QStringLiteral("remove-terms"));
    termRow->addWidget(m_newTerm, 1);
    termRow->addWidget(m_addTerm);
    termRow->addWidget(m_removeTerms);
    watch->addLayout(termRow);
    m_termRefusal = captionLabel(QString());
    m_termRefusal->setObjectName(QStringLiteral("watch-refusal"));
    m_termRefusal->hide();
    watch->addWidget(m_termRefusal);
    connect(m_addTerm, &QPushButton::clicked, this, &HeadlineSettingsTab::addWatchTerm);
    connect(m_newTerm, &QLineEdit::returnPressed, this, &HeadlineSettingsTab::addWatchTerm);
    connect(m_removeTerms, &QPushButton::clicked, this, &HeadlineSettingsTab::removeWatchTerms);

    // The switch follows the preference, and sets it.
    auto* knownExploited =
        new QCheckBox(QStringLiteral("Tell which vulnerabilities are known to be exploited"));
    knownExploited->setObjectName(QStringLiteral("knownExploited"));
    knownExploited->setChecked(settings.knownExploited());
    watch->addWidget(knownExploited);
    connect(knownExploited, &QCheckBox::toggled, &settings, [&settings](bool on) {
        if (on != settings.knownExploited())
            settings.setKnownExploited(on);
    });
    connect(&settings, &AppSettings::knownExploitedChanged, knownExploited, &QCheckBox::setChecked);

    column->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollingPage(content));

    showCategories(settings.enabledCategories());
    showFeeds(settings.disabledFeedIDs());
    connect(&settings, &AppSettings::enabledCategoriesChanged, this,
            &HeadlineSettingsTab::showCategories);
    connect(&settings, &AppSettings::disabledFeedIDsChanged, this, &HeadlineSettingsTab::showFeeds);
    showWatchTerms(settings.watchTerms());
    connect(&settings, &AppSettings::ownFeedsChanged, this, &HeadlineSettingsTab::showOwnFeeds);
    connect(&settings, &AppSettings::watchTermsChanged, this, &HeadlineSettingsTab::showWatchTerms);
    setLibrary(nullptr);
}

void HeadlineSettingsTab::setLibrary(Library* library)
{
    m_library = library;
    m_addFeed->setEnabled(library);
    m_addTerm->setEnabled(library);
    m_newTerm->setEnabled(library);
    m_removeTerms->setEnabled(library);
    showOwnFeeds(m_settings.ownFeeds());
}

QString HeadlineSettingsTab::ownFeedName(const QString& feedId)
{
    return QStringLiteral("own-feed-") + feedId;
}

QString HeadlineSettingsTab::removeName(const QString& feedId)
{
    return QStringLiteral("remove-") + feedId;
}

void HeadlineSettingsTab::showOwnFeeds(const QList<OwnFeed>& feeds)
{
    while (QLayoutItem* item = m_ownFeedRows->takeAt(0)) {
        if (QWidget* row = item->widget())
            row->deleteLater();
        delete item;
    }
    if (feeds.isEmpty()) {
        QLabel* none = captionLabel(QStringLiteral("None yet: add any RSS or Atom address."));
        m_ownFeedRows->addWidget(none);
        return;
    }
    for (const OwnFeed& feed : feeds) {
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        // The name is feed text: the check box shows it as plain text, and "&" stays itself.
        auto* toggle = new QCheckBox(QString(feed.name).replace(u'&', u"&&"_qs));
        toggle->setObjectName(ownFeedName(feed.id));
        toggle->setIcon(categoryIcon(feed.category));
        toggle->setToolTip(feed.url.toString(QUrl::RemovePassword));
        toggle->setChecked(feed.enabled);
        const QString id = feed.id;
        connect(toggle, &QCheckBox::toggled, this, [this, id](bool on) { setOwnFeed(id, on); });
        auto* remove = new QPushButton(QStringLiteral("Remove"));
        remove->setObjectName(removeName(feed.id));
        connect(remove, &QPushButton::clicked, this, [this, id] { removeOwnFeed(id); });
        toggle->setEnabled(m_library);
        remove->setEnabled(m_library);
        line->addWidget(toggle, 1);
        line->addWidget(remove);
        m_ownFeedRows->addWidget(row);
    }
}

void HeadlineSettingsTab::setOwnFeed(const QString& feedId, bool on)
{
    // Refused when the feed went away meanwhile or the preferences cannot be changed: the rows
    // show what is stored.
    if (m_library && m_library->switchFeeds({feedId}, on))
        showOwnFeeds(m_settings.ownFeeds());
}

void HeadlineSettingsTab::removeOwnFeed(const QString& feedId)
{
    if (m_library && m_library->removeOwnFeed(feedId))
        showOwnFeeds(m_settings.ownFeeds());
}

QDialog* HeadlineSettingsTab::openAddFeed()
{
    if (!m_library)
        return nullptr;
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("add-feed-dialog"));
    dialog->setWindowTitle(QStringLiteral("Add Feed"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout(dialog);
    auto* address = new QLineEdit;
    address->setObjectName(QStringLiteral("feed-address"));
    address->setPlaceholderText(QStringLiteral("https://example.org/feed.xml"));
    auto* name = new QLineEdit;
    name->setObjectName(QStringLiteral("feed-name"));
    name->setPlaceholderText(QStringLiteral("The feed's own title"));
    auto* category = new QComboBox;
    category->setObjectName(QStringLiteral("feed-category"));
    for (const NewsCategory each : allNewsCategories)
        category->addItem(categoryIcon(each), title(each), identifier(each));
    auto* refusal = plainLabel(QString());
    refusal->setObjectName(QStringLiteral("feed-refusal"));
    refusal->setWordWrap(true);
    refusal->setStyleSheet(QStringLiteral("color: #c05000"));
    refusal->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Add"));
    form->addRow(QStringLiteral("Address"), address);
    form->addRow(QStringLiteral("Name"), name);
    form->addRow(QStringLiteral("Category"), category);
    form->addRow(refusal);
    form->addRow(buttons);
    dialog->setMinimumWidth(460);

    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    // A refusal is of the address it was given for: editing it clears the reason.
    connect(address, &QLineEdit::textChanged, refusal, [buttons, refusal] {
        if (buttons->isEnabled())
            refusal->hide();
    });
    connect(buttons, &QDialogButtonBox::accepted, dialog, [=, this] {
        buttons->setEnabled(false);
        refusal->setText(QStringLiteral("Fetching the feed…"));
        refusal->show();
        const QPointer<QDialog> open(dialog);
        const NewsCategory chosen = newsCategoryFromIdentifier(category->currentData().toString())
                                        .value_or(NewsCategory::cybersecurity);
        m_library->addOwnFeed(address->text(), name->text(), chosen)
            .then(this,
                  [open, buttons, refusal](const std::variant<OwnFeed, LibraryRefusal>& added) {
                      if (!open)
                          return;
                      if (const auto* refused = std::get_if<LibraryRefusal>(&added)) {
                          refusal->setText(describe(*refused));
                          buttons->setEnabled(true);
                          return;
                      }
                      open->accept();
                  });
    });
    dialog->open();
    return dialog;
}

void HeadlineSettingsTab::showWatchTerms(const QStringList& terms)
{
    m_watchTerms->clear();
    for (const QString& term : terms)
        m_watchTerms->addItem(term);
}

void HeadlineSettingsTab::addWatchTerm()
{
    if (!m_library)
        return;
    showTermRefusal(m_library->addWatchTerms({m_newTerm->text()}));
    if (m_termRefusal->isHidden())
        m_newTerm->clear();
}

void HeadlineSettingsTab::removeWatchTerms()
{
    // By the terms shown, since another process may have changed the list meanwhile.
    const QStringList shown = m_settings.watchTerms();
    QStringList removed;
    for (const QListWidgetItem* item : m_watchTerms->selectedItems()) {
        const int row = m_watchTerms->row(item);
        if (row >= 0 && row < shown.size())
            removed.append(shown[row]);
    }
    if (removed.isEmpty() || !m_library)
        return;
    showTermRefusal(m_library->removeWatchTerms(removed));
}

void HeadlineSettingsTab::showTermRefusal(const std::optional<LibraryRefusal>& refusal)
{
    showRefusal(m_termRefusal, refusal ? describe(*refusal) : QString());
    m_termRefusal->setVisible(refusal.has_value());
}

QString HeadlineSettingsTab::categoryName(NewsCategory category)
{
    return QStringLiteral("category-") + identifier(category);
}

QString HeadlineSettingsTab::sourcesName(NewsCategory category)
{
    return QStringLiteral("sources-") + identifier(category);
}

QString HeadlineSettingsTab::feedName(const QString& feedId)
{
    return QStringLiteral("feed-") + feedId;
}

void HeadlineSettingsTab::showCategories(const QSet<NewsCategory>& enabled)
{
    for (const NewsCategory category : allNewsCategories) {
        const bool on = enabled.contains(category);
        QCheckBox* toggle = m_categoryToggles.value(category);
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(on);
        m_sourceSections.value(category)->setVisible(on);
    }
}

void HeadlineSettingsTab::showFeeds(const QSet<QString>& disabled)
{
    for (auto it = m_feedToggles.cbegin(); it != m_feedToggles.cend(); ++it) {
        const QSignalBlocker quiet(it.value());
        it.value()->setChecked(!disabled.contains(it.key()));
    }
}

void HeadlineSettingsTab::setCategory(NewsCategory category, bool on)
{
    QSet<NewsCategory> enabled = m_settings.enabledCategories();
    if (on)
        enabled.insert(category);
    else
        enabled.remove(category);
    m_settings.setEnabledCategories(enabled);
}

void HeadlineSettingsTab::setFeed(const QString& feedId, bool on)
{
    QSet<QString> disabled = m_settings.disabledFeedIDs();
    if (on)
        disabled.remove(feedId);
    else
        disabled.insert(feedId);
    m_settings.setDisabledFeedIDs(disabled);
}

} // namespace vardelle
