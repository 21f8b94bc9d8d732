#include "briefing/BriefingRun.h"
#include "instance/InstanceProtocol.h"
#include "linux/instance/SingleInstance.h"
#include "news/FeedSource.h"
#include "support/TestData.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace vardelle;

// The terminal commands, run as a user runs them.
class CliTest : public QObject {
    Q_OBJECT

    struct Run {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    static Run
    run(const QStringList& arguments, const QByteArray& input = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VARDELLE_BINARY), arguments);
        if (!process.waitForStarted())
            return {};
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }

    // The same, with this process's event loop running meanwhile, so that an instance served
    // here can answer; `started` runs once the program is running.
    static Run runServing(const QStringList& arguments, const QProcessEnvironment& environment,
                          const std::function<void(QProcess&)>& started = {})
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VARDELLE_BINARY), arguments);
        if (!process.waitForStarted())
            return {};
        process.closeWriteChannel();
        if (started)
            started(process);
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput(), process.readAllStandardError()};
    }

    // Fresh folders for a child, its runtime folder among them.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_qs, m_dir.filePath(u"home"_qs));
        environment.insert(u"XDG_CONFIG_HOME"_qs, m_dir.filePath(u"config"_qs));
        environment.insert(u"XDG_DATA_HOME"_qs, m_dir.filePath(u"data"_qs));
        environment.insert(u"XDG_RUNTIME_DIR"_qs, runtimeDir());
        environment.insert(u"LC_ALL"_qs, u"C.UTF-8"_qs);
        return environment;
    }
    QString runtimeDir() const { return m_dir.filePath(u"runtime"_qs); }

    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& content)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(content);
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        // Qt takes a runtime folder only when it is private to the user.
        QVERIFY(QDir().mkpath(runtimeDir()));
        QVERIFY(QFile::setPermissions(runtimeDir(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void parsePrintsItemsInDocumentOrder()
    {
        const QString path =
            writeFile(u"feed.xml"_qs, vardelle::test::readTestData(u"feeds/wordpress.xml"_qs));
        const Run result = run({u"parse"_qs, u"bleepingcomputer"_qs, path});
        QCOMPARE(result.status, 0);
        QJsonParseError error;
        const QJsonArray items = QJsonDocument::fromJson(result.out, &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(items.size(), 2);
        const QJsonObject first = items[0].toObject();
        QCOMPARE(first.keys(), (QStringList{u"category"_qs, u"id"_qs, u"link"_qs, u"published"_qs,
                                            u"source"_qs, u"summary"_qs, u"title"_qs}));
        QCOMPARE(first[u"title"].toString(), u"Critical flaw in VPN appliances exploited"_qs);
        QCOMPARE(first[u"source"].toString(), u"BleepingComputer"_qs);
        QCOMPARE(first[u"category"].toString(), u"cybersecurity"_qs);
        // 2024-06-04 09:15:00 UTC in seconds since 2001-01-01.
        QCOMPARE(first[u"published"].toDouble(), 739185300.0);
        QCOMPARE(items[1].toObject()[u"title"].toString(),
                 u"Ransomware gang claims attack on \u2018Example Corp\u2019"_qs);
    }

    // Dates that ICU's own pattern reader divides by zero on: the process must live to print.
    void parseOutlivesDatesIcuCannotRead()
    {
        const QString path =
            writeFile(u"dates.xml"_qs,
                      "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><channel>"
                      "<item><title>A</title><pubDate>2024-06-04T09:15:00."
                      "11111111111111111111111111111111111</pubDate></item>"
                      "<item><title>B</title><dc:date>2004-03-17T20:38:18."
                      "666666666666666666666666666660090097-5:0</dc:date></item></channel></rss>");
        const Run result = run({u"parse"_qs, u"talos"_qs, path});
        QCOMPARE(result.status, 0);
        QCOMPARE(QJsonDocument::fromJson(result.out).array().size(), 2);
    }

    void parseOfSomethingElsePrintsEmptyArray()
    {
        const QString path = writeFile(u"page.html"_qs, "<html><body>Moved</body></html>");
        const Run result = run({u"parse"_qs, u"talos"_qs, path});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QByteArray("[]\n"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("unknown feed") << QStringList{u"parse"_qs, u"nope"_qs, u"x.xml"_qs}
                                      << QByteArray("unknown feed 'nope'");
        QTest::newRow("unreadable file")
            << QStringList{u"parse"_qs, u"talos"_qs, u"/nonexistent/feed.xml"_qs}
            << QByteArray("cannot read /nonexistent/feed.xml");
        QTest::newRow("missing file argument")
            << QStringList{u"parse"_qs, u"talos"_qs} << QByteArray("expected FEED-ID and FILE");
        QTest::newRow("unknown command")
            << QStringList{u"frobnicate"_qs} << QByteArray("unknown command 'frobnicate'");
        QTest::newRow("unknown option") << QStringList{u"--frob"_qs} << QByteArray("frob");
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, message);
        const Run result = run(arguments);
        QCOMPARE(result.status, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.contains(message), result.err.constData());
    }

    void cleanPrintsEachTextOnItsOwnLine()
    {
        const Run result = run({u"clean"_qs, u"CVE-2024-3400 exploited!"_qs, u"R&D costs $3.5B"_qs,
                                u"-starts with a dash"_qs});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QByteArray("C V E, 2024, 3400 exploited\nR and D costs 3.5 billion "
                                        "dollars\n-starts with a dash\n"));
    }

    void cleanReadsStandardInputAsOneText()
    {
        const Run result = run({u"clean"_qs}, "Patch Tuesday \xE2\x80\x94 what is new\xE2\x80\xA6\n"
                                              "second line\n");
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QByteArray("Patch Tuesday, what is new. second line\n"));
    }

    // A briefing from a local mirror of the feeds, in fresh folders; the second run at once
    // finds nothing new.
    void briefTwice()
    {
        const QString feeds = m_dir.filePath(u"mirror"_qs);
        QDir().mkpath(feeds);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto item = [&now](const char* id, int hoursAgo) {
            return "<item><guid>" + QByteArray(id) + "</guid><title>Story " + id +
                   " &amp; more</title><pubDate>" +
                   QLocale::c()
                       .toString(now.addSecs(-3600 * hoursAgo), u"ddd, dd MMM yyyy HH:mm:ss"_qs)
                       .toUtf8() +
                   " +0000</pubDate></item>";
        };
        writeFile(u"mirror/talos.xml"_qs,
                  "<rss><channel>" + item("t1", 1) + item("t2", 80) + "</channel></rss>");
        writeFile(u"mirror/cisa-news.xml"_qs,
                  "<rss><channel>" + item("c1", 2) + "</channel></rss>");

        QProcessEnvironment environment = this->environment();
        environment.insert(u"VARDELLE_FEED_MIRROR"_qs,
                           QString::fromUtf8(QUrl::fromLocalFile(feeds).toEncoded()));

        const Run first = run({u"brief"_qs, u"--no-speech"_qs}, {}, environment);
        QCOMPARE(first.status, 0);
        QVERIFY2(first.out.startsWith("Here is your security briefing. 2 new stories since 1 day "
                                      "ago. In threat intelligence, 1 story. From CISA News and "
                                      "Alerts. Story c1 and more. In malware, 1 story. From Cisco "
                                      "Talos Intelligence. Story t1 and more. That is everything "
                                      "new since the last check.\n"),
                 first.out.constData());
        QCOMPARE(first.out.count('\n'), 1);
        QVERIFY(QFile::exists(m_dir.filePath(u"data/Vardelle/state.json"_qs)));

        const Run second = run({u"brief"_qs, u"--no-speech"_qs}, {}, environment);
        QCOMPARE(second.status, 0);
        QCOMPARE(second.out,
                 QByteArray("No new security headlines since the last check. You are up to "
                            "date.\n"));
    }

    // Not one feed answered: the message, and a status a script can tell from "up to date".
    void briefReachingNoFeed()
    {
        const QString feeds = m_dir.filePath(u"empty-mirror"_qs);
        QDir().mkpath(feeds);
        QProcessEnvironment environment = this->environment();
        environment.insert(u"VARDELLE_FEED_MIRROR"_qs,
                           QString::fromUtf8(QUrl::fromLocalFile(feeds).toEncoded()));
        const Run result = run({u"brief"_qs, u"--no-speech"_qs}, {}, environment);
        QCOMPARE(result.status, 3);
        QCOMPARE(result.out, QByteArray("None of the news feeds could be reached. Check the "
                                        "network connection and try again.\n"));
    }

    // With an instance running, `brief` asks it for the briefing and prints what it says.
    void briefThroughRunningInstance_data()
    {
        QTest::addColumn<QList<QJsonObject>>("answers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const QJsonObject spoken{{instance::speakingKey, u"Story \u2018one\u2019 & more"_qs}};
        const QByteArray spokenLine = "Story \xE2\x80\x98one\xE2\x80\x99 & more\n";
        QTest::newRow("spoken") << QList<QJsonObject>{spoken, {{instance::doneKey, true}}} << 0
                                << spokenLine << QByteArray();
        QTest::newRow("no feed reached")
            << QList<QJsonObject>{spoken,
                                  {{instance::doneKey, true},
                                   {instance::outcomeKey, identifier(RunOutcome::unreachable)}}}
            << 3 << spokenLine << QByteArray();
        QTest::newRow("up to date")
            << QList<QJsonObject>{spoken,
                                  {{instance::doneKey, true},
                                   {instance::outcomeKey, identifier(RunOutcome::upToDate)}}}
            << 0 << spokenLine << QByteArray();
        QTest::newRow("refused") << QList<QJsonObject>{instance::errorAnswer(u"not now"_qs)} << 1
                                 << QByteArray() << QByteArray("vardelle brief: not now\n");
        QTest::newRow("a terminal briefing holds it")
            << QList<QJsonObject>{{{instance::errorKey, u"a briefing is running in a terminal"_qs},
                                   {instance::busyKey, true}}}
            << 1 << QByteArray() << QByteArray("a briefing is running in a terminal");
        QTest::newRow("ended early") << QList<QJsonObject>{spoken} << 1 << spokenLine
                                     << QByteArray("ended the briefing early");
    }
    void briefThroughRunningInstance()
    {
        QFETCH(QList<QJsonObject>, answers);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        SingleInstance instance(runtimeDir());
        QVERIFY(instance.claim());
        QList<QJsonObject> requests;
        connect(&instance, &SingleInstance::requested, [&](InstanceRequest* request) {
            requests.append(request->message());
            for (const QJsonObject& answer : answers.mid(0, answers.size() - 1))
                request->send(answer);
            request->finish(answers.last());
        });

        const Run result = runServing({u"brief"_qs, u"--today"_qs}, environment());
        QCOMPARE(result.status, status);
        QCOMPARE(result.out, out);
        QVERIFY2(result.err.contains(err), result.err.constData());
        QCOMPARE(requests, (QList<QJsonObject>{{{instance::commandKey, instance::briefCommand},
                                                {instance::todayKey, true}}}));
    }

    // Printing only, while an instance runs: it is asked for a briefing that speaks nothing,
    // and what it tells is printed.
    void briefWithoutSpeechWhileInstanceRuns()
    {
        SingleInstance instance(runtimeDir());
        QVERIFY(instance.claim());
        QList<QJsonObject> requests;
        connect(&instance, &SingleInstance::requested, [&](InstanceRequest* request) {
            requests.append(request->message());
            request->send({{instance::speakingKey, u"Told, not spoken"_qs}});
            request->finish({{instance::doneKey, true},
                             {instance::outcomeKey, identifier(RunOutcome::unreachable)}});
        });
        const Run result = runServing({u"brief"_qs, u"--no-speech"_qs}, environment());
        QCOMPARE(result.status, 3);
        QCOMPARE(result.out, QByteArray("Told, not spoken\n"));
        QCOMPARE(requests, (QList<QJsonObject>{{{instance::commandKey, instance::briefCommand},
                                                {instance::todayKey, false},
                                                {instance::speakKey, false}}}));
    }

    // Ctrl+C while the instance speaks: the terminal exits as it did on its own, and the
    // instance hears that the briefing is no longer wanted.
    void interruptedBriefThroughInstance()
    {
        SingleInstance instance(runtimeDir());
        QVERIFY(instance.claim());
        int cancelled = 0;
        connect(&instance, &SingleInstance::requested, [&](InstanceRequest* request) {
            request->send({{instance::speakingKey, u"A long briefing"_qs}});
            connect(request, &InstanceRequest::cancelled, [&] { ++cancelled; });
        });
        const Run result = runServing({u"brief"_qs}, environment(), [](QProcess& process) {
            QVERIFY(QTest::qWaitFor([&] { return process.canReadLine(); }, 10000));
            ::kill(pid_t(process.processId()), SIGINT);
        });
        QCOMPARE(result.status, 128 + SIGINT);
        QCOMPARE(result.out, QByteArray("A long briefing\n"));
        QTRY_COMPARE(cancelled, 1);
    }

    // Terminal commands started at once, with no desktop to run them: each change that
    // reports success is in the preference file, and none is refused for want of a turn.
    void concurrentChangesAreAllStored()
    {
        const QList<FeedSource> catalogue = FeedSource::catalog();
        for (int round = 0; round < 3; ++round) {
            QProcessEnvironment environment = this->environment();
            const QString config = m_dir.filePath(u"concurrent%1"_qs.arg(round));
            environment.insert(u"XDG_CONFIG_HOME"_qs, config);
            std::vector<std::unique_ptr<QProcess>> processes;
            const auto start = [&](const QStringList& arguments) {
                auto process = std::make_unique<QProcess>();
                process->setProcessEnvironment(environment);
                process->start(QStringLiteral(VARDELLE_BINARY), arguments);
                processes.push_back(std::move(process));
            };
            QStringList terms;
            QStringList switchedOff;
            for (int i = 0; i < 20; ++i) {
                terms.append(u"TERM%1"_qs.arg(i));
                switchedOff.append(catalogue.at(i % catalogue.size()).id);
                start({u"watch"_qs, u"add"_qs, terms.last()});
                start({u"feeds"_qs, u"off"_qs, switchedOff.last()});
            }
            for (const auto& process : processes) {
                QVERIFY(process->waitForFinished(60000));
                QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
                         process->readAllStandardError().constData());
            }
            const QJsonObject stored =
                QJsonDocument::fromJson(test::readFile(config + u"/Vardelle/preferences.json"_qs))
                    .object();
            QStringList storedTerms;
            for (const QJsonValue& term : stored.value(u"watchTerms").toArray())
                storedTerms.append(term.toString());
            QStringList storedOff;
            for (const QJsonValue& id : stored.value(u"disabledFeeds").toArray())
                storedOff.append(id.toString());
            storedTerms.sort();
            terms.sort();
            storedOff.sort();
            switchedOff.sort();
            switchedOff.removeDuplicates();
            QCOMPARE(storedTerms, terms);
            QCOMPARE(storedOff, switchedOff);
        }
    }

    void versionAndHelp()
    {
        const Run version = run({u"--version"_qs});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QByteArray("Vardelle " VARDELLE_VERSION "\n"));
        const Run help = run({u"--help"_qs});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains("parse"));
        QVERIFY(help.out.contains("clean"));
        const Run commandHelp = run({u"parse"_qs, u"--help"_qs});
        QCOMPARE(commandHelp.status, 0);
        QVERIFY(commandHelp.out.contains("FEED-ID"));
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
