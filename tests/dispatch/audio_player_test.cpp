#include "byte_order.h"
#include "page_test_support.h"

#include "dispatch/music_module.h"
#include "media/audio_player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace torvanix;
using namespace torvanix::test;

namespace {

QByteArray wav(int rate, int channels, int bits, int frames, int format = 1) {
    const int bytes = bits / 8;
    QByteArray data(frames * channels * bytes, '\0');
    for (int f = 0; f < frames; ++f) {
        const double v = 0.5 * std::sin(2 * M_PI * 440.0 * f / rate);
        for (int c = 0; c < channels; ++c) {
            uchar *p = reinterpret_cast<uchar *>(data.data()) + (f * channels + c) * bytes;
            if (format == 3) {
                const float fv = static_cast<float>(v);
                std::memcpy(p, &fv, 4);
            } else if (bits == 8) {
                p[0] = static_cast<uchar>(128 + v * 127);
            } else if (bits == 16) {
                qToLittleEndian<qint16>(static_cast<qint16>(v * 32767), p);
            } else if (bits == 24) {
                const qint32 s = static_cast<qint32>(v * 8388607);
                p[0] = s & 0xFF;
                p[1] = (s >> 8) & 0xFF;
                p[2] = (s >> 16) & 0xFF;
            }
        }
    }
    QByteArray out("RIFF....WAVEfmt ");
    char b[4];
    qToLittleEndian<quint32>(16, b);
    out.append(b, 4);
    auto put16 = [&](quint16 v) {
        qToLittleEndian<quint16>(v, b);
        out.append(b, 2);
    };
    auto put32 = [&](quint32 v) {
        qToLittleEndian<quint32>(v, b);
        out.append(b, 4);
    };
    put16(static_cast<quint16>(format));
    put16(static_cast<quint16>(channels));
    put32(static_cast<quint32>(rate));
    put32(static_cast<quint32>(rate * channels * bytes));
    put16(static_cast<quint16>(channels * bytes));
    put16(static_cast<quint16>(bits));
    out.append("data");
    put32(static_cast<quint32>(data.size()));
    out.append(data);
    return out;
}

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void waitDecoded(AudioPlayer &player) {
    QElapsedTimer t;
    t.start();
    while (player.decoding() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QJsonObject info(AudioPlayer &player) {
    return QJsonDocument::fromJson(player.info().toUtf8()).object();
}

QList<QJsonObject> levels(const RecordingEvents &events) {
    QList<QJsonObject> out;
    for (const QString &t : events.texts("OnRGBMusicData"))
        out << QJsonDocument::fromJson(t.toUtf8()).object();
    return out;
}

} // namespace

TEST(WavDecoding, SampleFormatsBecomeStereo16Bit) {
    PcmAudio pcm;
    for (int bits : {8, 16, 24}) {
        ASSERT_TRUE(PcmAudio::fromWav(wav(8000, 1, bits, 800), &pcm)) << bits;
        EXPECT_EQ(pcm.sampleRate, 8000);
        EXPECT_EQ(pcm.frames.size(), 800 * 4);
        EXPECT_EQ(pcm.durationMs(), 100);
        const auto *s = reinterpret_cast<const qint16 *>(pcm.frames.constData());
        EXPECT_EQ(s[2 * 5], s[2 * 5 + 1]) << "mono doubled";
        EXPECT_NEAR(s[2 * 5], 0.5 * std::sin(2 * M_PI * 440.0 * 5 / 8000) * 32767, 400) << bits;
    }
    ASSERT_TRUE(PcmAudio::fromWav(wav(48000, 2, 32, 10, 3), &pcm));
    EXPECT_EQ(pcm.frames.size(), 40);
    // Truncated data keeps the whole frames that are there; broken headers fail.
    const QByteArray good = wav(8000, 2, 16, 100);
    ASSERT_TRUE(PcmAudio::fromWav(good.left(good.size() - 3), &pcm));
    EXPECT_EQ(pcm.frames.size(), 99 * 4);
    for (int n = 0; n < 44; ++n)
        EXPECT_FALSE(PcmAudio::fromWav(good.left(n), &pcm)) << n;
    QByteArray badRate = good;
    torvanix::test::storeLE<quint32>(badRate, 24, 0);
    EXPECT_FALSE(PcmAudio::fromWav(badRate, &pcm));
    QByteArray compressed = good;
    torvanix::test::storeLE<quint16>(compressed, 20, 85);
    EXPECT_FALSE(PcmAudio::fromWav(compressed, &pcm));
}

TEST(AudioPlayer, PlaysWithChannelVolumeMuteSeekPauseAndLoop) {
    QTemporaryDir dir;
    QFile file(dir.path() + "/tone.wav");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav(8000, 2, 16, 8000 * 2)); // two seconds
    file.close();

    RecordingEvents events;
    AudioPlayer player(events);
    player.setOutputEnabled(false);
    player.setSource(QUrl::fromLocalFile(file.fileName()).toString(), "v1");
    waitDecoded(player);
    EXPECT_EQ(info(player).value("duration").toInt(), 2000);
    EXPECT_EQ(info(player).value("version").toString(), "v1");

    EXPECT_EQ(info(player).value("output").toString(), "none");
    player.setVolume(100, 0);
    player.play();
    spin(300);
    // Played without a sound output: the page is told the track is not heard.
    EXPECT_EQ(info(player).value("output").toString(), "silent");
    QList<QJsonObject> l = levels(events);
    ASSERT_GE(l.size(), 3);
    // The loudest of the levels: the last one may cover a short stretch when the machine is
    // slow (as under the sanitizers).
    auto loudest = [](const QList<QJsonObject> &levels, const char *channel, int from) {
        int peak = 0;
        for (int i = from; i < levels.size(); ++i)
            peak = qMax(peak, levels.at(i).value(channel).toInt());
        return peak;
    };
    EXPECT_GT(loudest(l, "left", 0), 30);
    EXPECT_EQ(l.last().value("right").toInt(), 0);
    const int beforeMute = l.size();
    const qint64 played = player.positionMs();
    EXPECT_GT(played, 100);

    player.setMute(true, false);
    player.setVolume(100, 100);
    spin(120);
    l = levels(events);
    EXPECT_EQ(l.last().value("left").toInt(), 0);
    EXPECT_GT(loudest(l, "right", beforeMute), 30);

    player.pause();
    const qint64 paused = player.positionMs();
    const int eventsWhilePaused = events.texts("OnRGBMusicData").size();
    spin(150);
    EXPECT_EQ(player.positionMs(), paused);
    EXPECT_EQ(events.texts("OnRGBMusicData").size(), eventsWhilePaused);
    EXPECT_EQ(info(player).value("state").toString(), "paused");

    player.seek(1900);
    EXPECT_EQ(player.positionMs(), 1900);
    player.resume();
    spin(400);
    EXPECT_EQ(player.state(), AudioPlayer::State::Stopped) << "the track ended";

    // Positions far outside the track land on its ends.
    for (const qint64 far : {std::numeric_limits<qint64>::max(), qint64(1) << 50}) {
        player.seek(500);
        player.seek(far);
        EXPECT_EQ(player.positionMs(), 2000) << far;
    }
    player.seek(500);
    player.seek(std::numeric_limits<qint64>::min());
    EXPECT_EQ(player.positionMs(), 0);

    player.seek(1900);
    player.playLoop();
    spin(400);
    EXPECT_EQ(player.state(), AudioPlayer::State::Playing);
    EXPECT_LT(player.positionMs(), 1000) << "looped to the start";
}

TEST(AudioPlayer, MissingOrUndecodableSourcesDoNothing) {
    QTemporaryDir dir;
    RecordingEvents events;
    AudioPlayer player(events);
    player.setOutputEnabled(false);
    player.setSource(dir.path() + "/missing.mp3", "");
    player.play();
    player.seek(500);
    player.pause();
    player.resume();
    EXPECT_EQ(player.state(), AudioPlayer::State::Stopped);
    EXPECT_TRUE(info(player).contains("error"));

    QFile junk(dir.path() + "/junk.mp3");
    junk.open(QIODevice::WriteOnly);
    junk.write(QByteArray(4096, 'j'));
    junk.close();
    player.setSource(junk.fileName(), "");
    player.play();
    spin(500);
    EXPECT_FALSE(player.decoding());
    EXPECT_NE(player.state(), AudioPlayer::State::Paused);
    player.setSource("https://example.invalid/a.mp3", "");
    EXPECT_TRUE(info(player).contains("error"));
}

TEST(AudioPlayer, LoadedFromItsModuleOnTheFirstTrack) {
    QTemporaryDir dir;
    QFile file(dir.path() + "/tone.wav");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav(8000, 2, 16, 8000));
    file.close();
    RecordingEvents events;
    MusicModule module(events, MusicModule::defaultPath(QStringLiteral(TORVANIX_PROGRAM_DIR)));
    module.setVolume(40, 60);
    ASSERT_TRUE(module.loaded()) << module.info();
    module.setSource(file.fileName(), "1");
    const QJsonObject info = QJsonDocument::fromJson(module.info().toUtf8()).object();
    EXPECT_EQ(info.value("source").toString(), file.fileName());
    EXPECT_EQ(info.value("volume").toArray(), QJsonArray({40, 60}));
    EXPECT_FALSE(info.contains("error"));
}

TEST(AudioPlayer, DrivenThroughThePageCommands) {
    QTemporaryDir dir;
    QFile file(dir.path() + "/tone.wav");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav(8000, 2, 16, 8000));
    file.close();
    RecordingEvents playerEvents;
    AudioPlayer player(playerEvents);
    player.setOutputEnabled(false);
    PageServices services;
    services.audio = &player;
    PageFixture f(services);
    QJsonObject play{{"FuncName", "RGBMusicPlay"},
                     {"Event", "PlayMusic"},
                     {"Url", file.fileName()},
                     {"Ver", "7"}};
    EXPECT_EQ(f.call(QJsonDocument(play).toJson(QJsonDocument::Compact)).text,
              "RGBMusicPlay success");
    EXPECT_EQ(
        f.call(R"({"FuncName":"PlayAudio","Event":"SeekPosition","RefreshPosition":500})").text,
        "Play success");
    waitDecoded(player);
    const QJsonObject state =
        QJsonDocument::fromJson(f.call(R"({"FuncName":"GetMusicInfo"})").text.toUtf8()).object();
    EXPECT_EQ(state.value("state").toString(), "playing");
    EXPECT_GE(state.value("position").toInt(), 500);
    EXPECT_EQ(state.value("duration").toInt(), 1000);
    f.call(R"({"FuncName":"PlayAudio","Event":"PauseMusic"})");
    EXPECT_EQ(player.state(), AudioPlayer::State::Paused);
}
