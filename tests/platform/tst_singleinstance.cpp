#include "instance/InstanceProtocol.h"
#include "linux/instance/DesktopStart.h"
#include "linux/instance/InstanceClient.h"
#include "linux/instance/SingleInstance.h"
#include "support/TestData.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace vardelle;
using namespace std::chrono_literals;

namespace {

const QJsonObject showSettings{{instance::commandKey, instance::showSettingsCommand}};

// Bounds small enough that a test never waits for the real ones.
InstanceRequest::Limits quickLimits()
{
    InstanceRequest::Limits limits;
    limits.maxLineBytes = 256;
    limits.requestTimeout = 200ms;
    limits.keepAliveInterval = 50ms;
    return limits;
}

// Everything a raw client hears until the server closes the connection.
QList<QByteArray> converse(const QString& folder, const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.connectToServer(SingleInstance::socketPath(folder));
    if (!socket.waitForConnected(1000))
        return {"not connected"};
    socket.write(bytes);
    QByteArray heard;
    [[maybe_unused]] const bool closed = QTest::qWaitFor(
        [&] {
            heard += socket.readAll();
            return socket.state() == QLocalSocket::UnconnectedState;
        },
        5000);
    heard += socket.readAll();
    QList<QByteArray> lines = heard.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init()
    {
        // Each test in a fresh runtime folder.
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void oneInstanceAtATime()
    {
        SingleInstance first(m_dir.path());
        SingleInstance second(m_dir.path());
        QVERIFY(first.claim());
        QVERIFY(first.claim()); // again: still ours
        QVERIFY(!second.claim());
        QCOMPARE(second.errorString(), QString());
        QVERIFY(SingleInstance::isHeld(m_dir.path()));

        first.release();
        QVERIFY(!SingleInstance::isHeld(m_dir.path()));
        QVERIFY(second.claim());
        QVERIFY(!first.claim());
    }

    // A process that died without cleaning up left its lock and its socket file behind.
    void takesOverWhatADeadProcessLeft()
    {
        QProcess gone;
        gone.start(u"true"_qs);
        QVERIFY(gone.waitForFinished());
        const qint64 deadPid = gone.processId() ? gone.processId() : 999999;
        test::writeFile(SingleInstance::lockPath(m_dir.path()),
                        QByteArray::number(deadPid) + "\nvardelle\n" +
                            QSysInfo::machineHostName().toUtf8() + "\n");
        test::writeFile(SingleInstance::socketPath(m_dir.path()), "left over");

        SingleInstance instance(m_dir.path());
        QVERIFY(instance.claim());
        connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
            request->finish({{instance::okKey, true}});
        });
        const InstanceClient::Reply reply = InstanceClient::request(m_dir.path(), showSettings);
        QCOMPARE(reply.outcome, InstanceClient::Outcome::answered);
        QCOMPARE(reply.lines, (QList<QJsonObject>{QJsonObject{{instance::okKey, true}}}));
    }

    void unusableFolder()
    {
        const QString file = m_dir.filePath(u"not-a-folder"_qs);
        test::writeFile(file, "x");
        SingleInstance instance(file);
        QVERIFY(!instance.claim());
        QVERIFY(!instance.errorString().isEmpty());
        SingleInstance unnamed(QString{});
        QVERIFY(!unnamed.claim());
        QVERIFY(!unnamed.errorString().isEmpty());
    }

    void socketIsPrivateToTheUser()
    {
        SingleInstance instance(m_dir.path());
        QVERIFY(instance.claim());
        const QFileInfo socket(SingleInstance::socketPath(m_dir.path()));
        QVERIFY(socket.exists());
        QCOMPARE(socket.permissions() &
                     (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
                 QFile::Permissions{});
    }

    // A request held open for longer than the client's patience: the keep-alives carry it,
    // and are not among the answer's lines.
    void answersAsynchronously()
    {
        SingleInstance instance(m_dir.path());
        instance.setLimits(quickLimits());
        QVERIFY(instance.claim());
        QPointer<InstanceRequest> received;
        connect(&instance, &SingleInstance::requested, [&](InstanceRequest* request) {
            received = request;
            QCOMPARE(request->command(), instance::briefCommand);
            QVERIFY(request->today());
            request->send({{instance::speakingKey, u"one"_qs}});
            QTimer::singleShot(600ms, request, [request] {
                request->send({{instance::speakingKey, u"two"_qs}});
                request->finish({{instance::doneKey, true}});
            });
        });
        const InstanceClient::Reply reply = InstanceClient::request(
            m_dir.path(),
            {{instance::commandKey, instance::briefCommand}, {instance::todayKey, true}},
            {1000ms, 300ms});
        QCOMPARE(reply.outcome, InstanceClient::Outcome::answered);
        QCOMPARE(reply.lines, (QList<QJsonObject>{{{instance::speakingKey, u"one"_qs}},
                                                  {{instance::speakingKey, u"two"_qs}},
                                                  {{instance::doneKey, true}}}));
        QTRY_VERIFY(received.isNull()); // the request let itself go
    }

    void clientGoingAwayCancels()
    {
        SingleInstance instance(m_dir.path());
        QVERIFY(instance.claim());
        QPointer<InstanceRequest> received;
        connect(&instance, &SingleInstance::requested,
                [&](InstanceRequest* request) { received = request; });
        InstanceClient client(m_dir.path());
        client.send(showSettings);
        QTRY_VERIFY(received);
        QSignalSpy cancelled(received.data(), &InstanceRequest::cancelled);
        client.close();
        QTRY_COMPARE(cancelled.size(), 1);
        QVERIFY(!received || !received->isOpen());
        QTRY_VERIFY(received.isNull());
    }

    // Another local process may send anything: an error line, the connection dropped, nothing
    // handed on, and the instance still serves the next client.
    void refusesMalformedRequests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("not JSON") << QByteArray("hello\n") << QByteArray("one JSON object");
        QTest::newRow("an array") << QByteArray("[\"show-settings\"]\n")
                                  << QByteArray("one JSON object");
        QTest::newRow("bad UTF-8")
            << QByteArray("{\"command\":\"\xff\xfe\"}\n") << QByteArray("one JSON object");
        QTest::newRow("no command") << QByteArray("{\"today\":true}\n") << QByteArray("no command");
        QTest::newRow("command not a string")
            << QByteArray("{\"command\":1}\n") << QByteArray("no command");
        QTest::newRow("line too long")
            << QByteArray("{\"command\":\"" + QByteArray(300, 'x') + "\"}\n")
            << QByteArray("too long");
        QTest::newRow("endless line") << QByteArray(100000, '{') << QByteArray("too long");
        QTest::newRow("silent") << QByteArray() << QByteArray("no request");
        QTest::newRow("no newline")
            << QByteArray("{\"command\":\"stop\"}") << QByteArray("no request");
    }
    void refusesMalformedRequests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, error);
        SingleInstance instance(m_dir.path());
        instance.setLimits(quickLimits());
        QVERIFY(instance.claim());
        QSignalSpy requested(&instance, &SingleInstance::requested);

        const QList<QByteArray> lines = converse(m_dir.path(), bytes);
        QCOMPARE(lines.size(), 1);
        const auto answer = instance::decodeLine(lines.first());
        QVERIFY2(answer && answer->value(instance::errorKey).toString().toUtf8().contains(error),
                 lines.first().constData());
        QCOMPARE(requested.size(), 0);

        connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
            request->finish({{instance::okKey, true}});
        });
        QCOMPARE(converse(m_dir.path(), "{\"command\":\"show-settings\"}\n"),
                 QList<QByteArray>{"{\"ok\":true}"});
    }

    // What follows the request line is not read as another request.
    void oneRequestPerConnection()
    {
        SingleInstance instance(m_dir.path());
        QVERIFY(instance.claim());
        QSignalSpy requested(&instance, &SingleInstance::requested);
        connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
            request->finish({{instance::okKey, true}});
        });
        QCOMPARE(converse(m_dir.path(), "{\"command\":\"stop\"}\n{\"command\":\"brief\"}\n"),
                 QList<QByteArray>{"{\"ok\":true}"});
        QCOMPARE(requested.size(), 1);
    }

    void floodOfSilentConnections()
    {
        SingleInstance instance(m_dir.path());
        instance.setMaxWaitingConnections(2);
        QVERIFY(instance.claim());
        std::vector<std::unique_ptr<QLocalSocket>> sockets;
        for (int i = 0; i < 3; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            sockets.back()->connectToServer(SingleInstance::socketPath(m_dir.path()));
            QVERIFY(sockets.back()->waitForConnected(1000));
            QTRY_COMPARE(instance.findChildren<InstanceRequest*>().size(), std::min(i + 1, 2));
        }
        QTRY_COMPARE(sockets[2]->state(), QLocalSocket::UnconnectedState);
        QCOMPARE(sockets[0]->state(), QLocalSocket::ConnectedState);
    }

    // Clients that connect and say nothing do not hold up one that asks: each connection is
    // served on its own, and the cap is far above what a user's scripts open at once.
    void silentClientsDoNotHoldUpOthers()
    {
        SingleInstance instance(m_dir.path());
        QVERIFY(instance.claim());
        connect(&instance, &SingleInstance::requested, [](InstanceRequest* request) {
            request->finish({{instance::okKey, true}});
        });
        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < 40; ++i) {
            silent.push_back(std::make_unique<QLocalSocket>());
            silent.back()->connectToServer(SingleInstance::socketPath(m_dir.path()));
            QVERIFY(silent.back()->waitForConnected(1000));
        }
        QTRY_COMPARE(instance.findChildren<InstanceRequest*>().size(), 40);
        QCOMPARE(converse(m_dir.path(), "{\"command\":\"stop\"}\n"),
                 QList<QByteArray>{"{\"ok\":true}"});
        QCOMPARE(silent.front()->state(), QLocalSocket::ConnectedState);
    }

    void clientTellsWhyNobodyAnswers()
    {
        const InstanceClient::Timeouts quick{300ms, 300ms};
        // Nobody at all.
        InstanceClient::Reply reply = InstanceClient::request(m_dir.path(), showSettings, quick);
        QCOMPARE(reply.outcome, InstanceClient::Outcome::notRunning);

        // A lock holder that never listens.
        {
            QLockFile lock(SingleInstance::lockPath(m_dir.path()));
            QVERIFY(lock.tryLock(0));
            reply = InstanceClient::request(m_dir.path(), showSettings, quick);
            QCOMPARE(reply.outcome, InstanceClient::Outcome::notAnswering);
            QVERIFY(!reply.error.isEmpty());

            // One that takes the connection and never answers.
            QLocalServer hung;
            QVERIFY(hung.listen(SingleInstance::socketPath(m_dir.path())));
            reply = InstanceClient::request(m_dir.path(), showSettings, quick);
            QCOMPARE(reply.outcome, InstanceClient::Outcome::notAnswering);
            QVERIFY(!reply.error.isEmpty());
        }
    }

    void desktopStart_data()
    {
        QTest::addColumn<QString>("other"); // what holds the instance already
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("ranDesktop");
        QTest::newRow("nobody") << u""_qs << 7 << true;
        QTest::newRow("a desktop") << u"desktop"_qs << 0 << false;
        QTest::newRow("a terminal briefing") << u"brief"_qs << 7 << true;
        QTest::newRow("a refusing instance") << u"refusing"_qs << 1 << false;
    }
    void desktopStart()
    {
        QFETCH(QString, other);
        QFETCH(int, status);
        QFETCH(bool, ranDesktop);
        SingleInstance running(m_dir.path());
        int settingsShown = 0;
        if (!other.isEmpty()) {
            QVERIFY(running.claim());
            connect(&running, &SingleInstance::requested, [&](InstanceRequest* request) {
                if (other == u"desktop") {
                    ++settingsShown;
                    request->finish({{instance::okKey, true}});
                } else if (other == u"brief") {
                    request->finish({{instance::errorKey, u"a briefing is running"_qs},
                                     {instance::busyKey, true}});
                    // The briefing ends a little later.
                    QTimer::singleShot(300ms, &running, [&running] { running.release(); });
                } else {
                    request->finish(instance::errorAnswer(u"no"_qs));
                }
            });
        }

        SingleInstance starting(m_dir.path());
        bool ran = false;
        const int result = runDesktopOrForward(starting, [&] {
            ran = true;
            return starting.isClaimed() ? 7 : -1;
        });
        QCOMPARE(result, status);
        QCOMPARE(ran, ranDesktop);
        QCOMPARE(settingsShown, other == u"desktop" ? 1 : 0);
    }

    void desktopStartWithoutRuntimeFolder()
    {
        const QString file = m_dir.filePath(u"not-a-folder"_qs);
        test::writeFile(file, "x");
        SingleInstance starting(file);
        bool ran = false;
        QCOMPARE(runDesktopOrForward(starting, [&] { return ran = true, 0; }), 1);
        QVERIFY(!ran);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
