// kestrel-cli against kestrel-ecusim over a pseudo-terminal, for every
// shipped configuration against the simulator's "auto" scenario (as the demo
// runs it, each car answered by the scenario its initialisation asks for): live values, trouble
// codes with their descriptions, a freeze frame, ECU information with its file; the freeze-frame
// files; and the exit statuses of the error paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/cp1251.h"
#include "tests/support/support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// UTF-8 text as the program writes it into files (code page 1251).
std::string Cp1251(const std::string& utf8) {
  return kestrel::cp1251::FromUtf8(utf8);
}

// The programs and the runtime tree: the build's, or the copies in the
// scratch folder of a run as an unprivileged user (scripts/unprivileged.sh).
std::string Installed(const char* name, const char* built) {
  const char* scratch = std::getenv("KESTREL_UNPRIVILEGED_DIR");
  if (scratch == nullptr || *scratch == '\0') return built;
  return name ? (fs::path(scratch) / name).string() : std::string(scratch);
}
const std::string kCli = Installed("kestrel-cli", KESTREL_CLI);
const std::string kSim = Installed("kestrel-ecusim", KESTREL_ECUSIM);
const std::string kRuntime = Installed(nullptr, KESTREL_RUNTIME);

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts a program with stdout and stderr into files.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
            const fs::path& cwd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct Result {
  int status = -1;  // exit status, -1 when killed
  std::string out, err;
};

class CliE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // The runtime tree's catalogue with its built modules, and a Kadr folder
    // of our own for the exchange log.
    fs::create_directory_symlink(fs::path(kRuntime) / "ECU", dir_ / "ECU");
    fs::create_directory(dir_ / "Kadr");
  }
  void TearDown() override {
    StopSimulator();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the simulated ECU on a pseudo-terminal; returns its path.
  std::string StartSimulator(const std::string& scenario,
                             const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {kSim, "--scenario", scenario};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = Spawn(args, dir_ / "sim.out", dir_ / "sim.err", dir_);
    EXPECT_GT(sim_, 0);
    for (int i = 0; i < 200; ++i) {  // up to 10 s on a busy machine
      const std::string text = ReadFile(dir_ / "sim.out");
      const auto eol = text.find('\n');
      if (eol != std::string::npos) return text.substr(0, eol);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the simulator printed no pseudo-terminal: " << ReadFile(dir_ / "sim.err");
    return {};
  }

  void StopSimulator() {
    if (sim_ <= 0) return;
    kill(sim_, SIGTERM);
    int st = 0;
    waitpid(sim_, &st, 0);
    sim_ = -1;
  }

  Result Cli(const std::vector<std::string>& args, int timeoutSec = 90) {
    return Finish(StartCli(args), timeoutSec);
  }

  // kestrel-cli started, and waited for.
  pid_t StartCli(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kCli, "--workdir", dir_.string()};
    all.insert(all.end(), args.begin(), args.end());
    return Spawn(all, dir_ / "cli.out", dir_ / "cli.err", dir_);
  }
  Result Finish(pid_t pid, int timeoutSec = 90) {
    Result r;
    if (pid <= 0) return r;
    int st = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
    while (waitpid(pid, &st, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        ADD_FAILURE() << "kestrel-cli did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = ReadFile(dir_ / "cli.out");
    r.err = ReadFile(dir_ / "cli.err");
    return r;
  }

  // The value column of the first row with this code and name.
  static std::string Value(const std::string& out, const std::string& code,
                           const std::string& name) {
    std::istringstream in(out);
    std::string line;
    const std::string head = code + "\t" + name + "\t";
    while (std::getline(in, line)) {
      if (line.rfind(head, 0) == 0) {
        const std::string rest = line.substr(head.size());
        return rest.substr(0, rest.find('\t'));
      }
    }
    return "(missing)";
  }

  static double Number(const std::string& text) { return std::stod(text); }

  // A file the CLI wrote into Kadr/, as UTF-8 lines; every line ends with CR LF.
  std::vector<std::string> KadrLines(const std::string& name) const {
    std::vector<std::string> lines = kestrel::testing::ReadCrLfLines(dir_ / "Kadr" / name);
    for (std::string& line : lines) line = kestrel::cp1251::ToUtf8(line);
    return lines;
  }

  // "InfoECU.txt" against what "info" printed: the identification and the
  // same identifiers under each heading.
  void CheckInfoFile(const std::string& printed, const std::string& ident) {
    const std::vector<std::string> lines = KadrLines("InfoECU.txt");
    ASSERT_GT(lines.size(), 9u);
    EXPECT_EQ(lines[2], "ID ECU:" + ident);
    std::string lists;  // the file's lists, one a line as "info" prints them
    for (const std::string& line : lines) {
      if (line.rfind("Список PID у ", 0) == 0) {
        lists += (lists.empty() ? "" : "\n") + line;
      } else if (!lists.empty()) {
        lists += line;
      }
    }
    EXPECT_NE(printed.find(lists + "\n"), std::string::npos) << lists;
  }

  // Live values, codes with descriptions and ECU information of one
  // configuration against the simulator's "auto" scenario; the identification
  // and VIN are those of the car's own scenario.
  void CheckConfiguration(const std::string& config, const std::string& ident,
                          const std::string& vin) {
    const std::string pty = StartSimulator("auto");
    ASSERT_FALSE(pty.empty());

    Result live = Cli({"--config", "ECU/" + config, "--port", pty, "live", "--passes", "1"});
    ASSERT_EQ(live.status, 0) << live.err;
    // Idle after the start: engine speed between the warm and the cold idle.
    const double rpm = Number(Value(live.out, "010C", "Обороты двигателя") != "(missing)"
                                  ? Value(live.out, "010C", "Обороты двигателя")
                                  : Value(live.out, "210C", "Обороты двигателя"));
    EXPECT_GT(rpm, 500);
    EXPECT_LT(rpm, 1500);
    EXPECT_EQ(Value(live.out, "0101", "Лампа неисправности (MIL)"), "Вкл");
    EXPECT_EQ(Number(Value(live.out, "0101", "Количество кодов неисправностей")), 4.0);
    EXPECT_EQ(Value(live.out, "0103", "Состояние топливной системы"), "Разомкнута, прогрев");
    EXPECT_EQ(Value(live.out, "21E1", "Топливный насос"), "Вкл");
    EXPECT_EQ(live.out.find("Не поддерживается"), std::string::npos) << live.out;

    Result dtc = Cli({"--config", "ECU/" + config, "--port", pty, "dtc", "--export"});
    ASSERT_EQ(dtc.status, 0) << dtc.err;
    EXPECT_NE(dtc.out.find("Записан файл Kadr/ErrECU_1.txt\n"), std::string::npos) << dtc.out;
    // The file the window's copy button writes: both lists, numbered, with their texts.
    const std::string file = ReadFile(dir_ / "Kadr" / "ErrECU_1.txt");
    EXPECT_NE(file.find(Cp1251("\r\n\r\nСохраненные ошибки ECU (4)\r\n 001  P0171 Слишком бедная "
                               "смесь (Головка 1)\r\n 002  P0300 ")),
              std::string::npos);
    EXPECT_NE(dtc.out.find("Текущие ошибки: 1\nP0171\tСлишком бедная смесь (Головка 1)\n"),
              std::string::npos)
        << dtc.out;
    EXPECT_NE(dtc.out.find("Сохраненные ошибки: 4\n"), std::string::npos) << dtc.out;
    EXPECT_NE(dtc.out.find("P0420\tЭффективность катализатора ниже порога (Головка 1)\n"),
              std::string::npos);
    EXPECT_NE(dtc.out.find("P0500\tДатчик скорости автомобиля: неисправность\n"),
              std::string::npos);

    // Frame 1 was stored while driving.
    Result freeze = Cli({"--config", "ECU/" + config, "--port", pty, "freeze", "--frame", "1"});
    ASSERT_EQ(freeze.status, 0) << freeze.err;
    EXPECT_GT(Number(Value(freeze.out, "020C", "Обороты двигателя")), 1000) << freeze.out;
    EXPECT_EQ(Number(Value(freeze.out, "020D", "Скорость автомобиля")), 40.0);

    Result info = Cli({"--config", "ECU/" + config, "--port", pty, "info", "--export"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Записан файл Kadr/InfoECU.txt\n"), std::string::npos);
    CheckInfoFile(info.out, ident);
    EXPECT_NE(info.out.find("ID ECU:\t" + ident + "\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Тип OBD:\tJOBD и OBDII\n"), std::string::npos);
    EXPECT_NE(info.out.find("\t№1 После двигателя (Головка 1)\n"), std::string::npos);
    EXPECT_NE(info.out.find("VIN:\t" + vin + "\n"), std::string::npos);
    EXPECT_TRUE(
        std::regex_search(info.out, std::regex("Список PID у Mode01: 00 01 03 04 05.* 0C ")))
        << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("Список PID у Mode30: 00 01 .*18\n")));
  }

  fs::path dir_;
  pid_t sim_ = -1;
};

TEST_F(CliE2eTest, CamryFastInit) {
  CheckConfiguration("CAMRY_2AZ.ini", "89661", "JTNBE46K073012345");
}

TEST_F(CliE2eTest, Corolla5Baud) {
  CheckConfiguration("COROLLA_3ZZ.ini", "89666", "JTDBZ42E509012345");
}

TEST_F(CliE2eTest, CarinaIso9141) {
  CheckConfiguration("CARINA_7AFE.ini", "89661", "JT1AT190X05012345");
}

// The demo's catalogue: one simulator, the cars chosen one after another,
// each session right after the last.
TEST_F(CliE2eTest, OneAutoSimulatorServesEveryCarInTurn) {
  const std::string pty = StartSimulator("auto");
  ASSERT_FALSE(pty.empty());
  // ISO 9141, then a fast init while that session still runs, then 5-baud.
  for (const char* config : {"CARINA_7AFE.ini", "CAMRY_2AZ.ini", "COROLLA_3ZZ.ini"}) {
    Result dash = Cli({"--config", std::string("ECU/") + config, "--port", pty, "dashboard"});
    ASSERT_EQ(dash.status, 0) << config << ": " << dash.err;
    EXPECT_GT(Number(Value(dash.out, "gauge4", "Обороты двигателя")), 500) << config << dash.out;
  }
}

TEST_F(CliE2eTest, FreezeFrameClearAndDashboard) {
  const std::string pty = StartSimulator("camry_2az_fast");
  ASSERT_FALSE(pty.empty());
  Result freeze =
      Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "--log", "freeze", "--export"});
  ASSERT_EQ(freeze.status, 0) << freeze.err;
  EXPECT_EQ(Value(freeze.out, "0202", "Код, сохранивший стоп-кадр"), "P0171");
  const std::string rpm = Value(freeze.out, "020C", "Обороты двигателя");
  EXPECT_GT(Number(rpm), 500);
  // The window's file, with the values printed.
  const std::vector<std::string> kadr = KadrLines("kadrM2_1.txt");
  // Every row printed (the last line printed names the file), after the header.
  const auto rows =
      static_cast<std::size_t>(std::count(freeze.out.begin(), freeze.out.end(), '\n'));
  ASSERT_EQ(kadr.size(), 6u + rows - 1);
  EXPECT_EQ(kadr[4], "Стоп-Кадр №0 параметров");
  const auto line = std::find_if(kadr.begin(), kadr.end(), [](const std::string& l) {
    return l.find(" 020C Обороты двигателя") != std::string::npos;
  });
  ASSERT_NE(line, kadr.end());
  EXPECT_NE(line->find(" " + rpm + " об/мин"), std::string::npos) << *line;
  // --log wrote the exchange log.
  bool logged = false;
  for (const auto& e : fs::directory_iterator(dir_ / "Kadr")) logged = logged || e.file_size() > 0;
  EXPECT_TRUE(logged);

  Result dash = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "dashboard"});
  ASSERT_EQ(dash.status, 0) << dash.err;
  // The lever as the dashboard shows it: a parked car reports no position bit
  // (P shares the park/neutral contact with N), so the picture is N.
  EXPECT_EQ(Value(dash.out, "selector", "Положение переключателя АКПП"), "N") << dash.out;
  EXPECT_TRUE(std::regex_match(Value(dash.out, "gear", "Текущая передача АКПП"),
                               std::regex("[0-7](\\+Lock)?")))
      << dash.out;
  EXPECT_EQ(Value(dash.out, "lamp", "Лампа неисправности"), "Вкл");
  EXPECT_EQ(Value(dash.out, "codes", "Количество ошибок"), "4");
  EXPECT_GT(Number(Value(dash.out, "gauge4", "Обороты двигателя")), 500);
  EXPECT_GT(Number(Value(dash.out, "flow", "Мгновенный расход")), 0);
  EXPECT_GT(Number(Value(dash.out, "flowavg", "Средний расход")), 0);
  EXPECT_GE(Number(Value(dash.out, "fuel", "Израсходованное топливо")), 0);

  Result clear = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "clear"});
  ASSERT_EQ(clear.status, 0) << clear.err;
  Result dtc = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "dtc"});
  ASSERT_EQ(dtc.status, 0) << dtc.err;
  EXPECT_EQ(dtc.out, "Текущие ошибки: 0\nСохраненные ошибки: 0\n");
}

TEST_F(CliE2eTest, ADtcReadCutShortShowsWhatArrivedAndFails) {
  // The adapter vanishes after the second answer: the stored codes (03) have
  // arrived, the session ends in error.
  const std::string pty = StartSimulator("camry_2az_fast", {"--fault", "vanish:2"});
  ASSERT_FALSE(pty.empty());
  Result dtc = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "dtc"});
  EXPECT_EQ(dtc.status, 3);
  EXPECT_TRUE(std::regex_search(dtc.err, std::regex("^Ошибка [0-9A-F]{4}\n$"))) << dtc.err;
  EXPECT_NE(dtc.out.find("Сохраненные ошибки: 4\nP0171\t"), std::string::npos) << dtc.out;
}

TEST_F(CliE2eTest, RecordsWhatTheGraphsWindowRecordsAndTheSimulatorReplaysIt) {
  const std::string pty = StartSimulator("camry_2az_fast");
  ASSERT_FALSE(pty.empty());
  const std::vector<std::string> camry = {"--config", "ECU/CAMRY_2AZ.ini", "--port", pty};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), camry.begin(), camry.end());
    return args;
  };
  EXPECT_EQ(Cli(with({"record", "Kadr/x.rtd", "--channels", "2199"})).status, 2);
  EXPECT_FALSE(fs::exists(dir_ / "Kadr" / "x.rtd"));

  Result rec = Cli(
      with({"record", "Kadr/drive.rtd", "--channels", "2105,210C,-,0101/08", "--seconds", "2"}));
  ASSERT_EQ(rec.status, 0) << rec.err;
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(rec.out, m, std::regex("^Записан файл Kadr/drive.rtd, записей: (\\d+)\n")))
      << rec.out;
  const std::size_t records = std::stoul(m[1]);
  EXPECT_GE(records, 4u);
  EXPECT_TRUE(std::regex_search(
      rec.out, std::regex("\n1\t2105\tТемпература охлаждающей жидкости\t[0-9]+\\.00\t°C\n")))
      << rec.out;
  EXPECT_NE(rec.out.find("\n4\t0101\tЛампа неисправности (MIL)\t1.000\t\n"), std::string::npos);

  // The window's format: the header (interval P2 + P3 of the configuration,
  // the channels' four bytes, zeros for "-"), then the response frames.
  const std::string file = ReadFile(dir_ / "Kadr" / "drive.rtd");
  ASSERT_EQ(file.size(), (records + 1) * 38);
  EXPECT_EQ(file.substr(0, 4), "RTDA");
  EXPECT_EQ(file.substr(6, 16), std::string("\x21\x05\0\0\x21\x0C\0\0\0\0\0\0\x01\x01\0\x08", 16));
  std::set<int> coolant;
  for (std::size_t r = 1; r <= records; ++r) {
    const std::string record = file.substr(r * 38, 38);
    EXPECT_TRUE(record[3] == '\x61' || record[3] == '\x41') << r;
    if (record[3] == '\x61' && record[4] == '\x05')
      coolant.insert(static_cast<std::uint8_t>(record[5]) - 40);
  }
  ASSERT_FALSE(coolant.empty());

  // kestrel-ecusim serves the recording as live data.
  StopSimulator();
  const std::string replay =
      StartSimulator("camry_2az_fast", {"--replay", (dir_ / "Kadr" / "drive.rtd").string()});
  ASSERT_FALSE(replay.empty());
  Result live = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", replay, "live", "--passes", "1"});
  ASSERT_EQ(live.status, 0) << live.err;
  const double shown = Number(Value(live.out, "2105", "Температура охлаждающей жидкости"));
  EXPECT_TRUE(coolant.count(static_cast<int>(shown))) << shown;
}

TEST_F(CliE2eTest, ErrorsGiveTheirExitStatus) {
  Result usage = Cli({"scan"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("usage:"), std::string::npos);

  Result missing = Cli({"--config", "ECU/NONE.ini", "info"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("ECU/NONE.ini"), std::string::npos);

  // A silent ECU: the link reports "no response" with its status text.
  const std::string pty = StartSimulator("camry_2az_fast", {"--fault", "silent"});
  ASSERT_FALSE(pty.empty());
  Result silent = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "info"});
  EXPECT_EQ(silent.status, 3);
  EXPECT_TRUE(std::regex_search(silent.err, std::regex("^Ошибка [0-9A-F]{4}\n$"))) << silent.err;
  EXPECT_EQ(silent.out, "");
}

TEST_F(CliE2eTest, AnInterruptionIsReportedAsSuchAtAnyPoint) {
  // Ctrl-C while the ECU is being woken up at 5 baud: no link error.
  const std::string pty = StartSimulator("corolla_3zz_5baud");
  ASSERT_FALSE(pty.empty());
  const pid_t info = StartCli({"--config", "ECU/COROLLA_3ZZ.ini", "--port", pty, "info"});
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  kill(info, SIGINT);
  const Result r = Finish(info);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err, "Прервано пользователем (SIGINT)\n");
  EXPECT_EQ(r.out, "");

  // SIGTERM while polling until interrupted, once passes have been made:
  // what the table shows, then the interruption.
  const pid_t live = StartCli(
      {"--config", "ECU/COROLLA_3ZZ.ini", "--port", pty, "--log", "live", "--passes", "0"});
  EXPECT_TRUE(kestrel::testing::WaitUntil(
      [&] {
        std::string log;
        for (const auto& e : fs::directory_iterator(dir_ / "Kadr")) log += ReadFile(e.path());
        std::size_t answers = 0;
        for (auto p = log.find("RxD:"); p != std::string::npos; p = log.find("RxD:", p + 1)) {
          ++answers;
        }
        return answers > 60;  // more than two passes
      },
      60000));
  kill(live, SIGTERM);
  const Result polled = Finish(live);
  EXPECT_EQ(polled.status, 130);
  EXPECT_EQ(polled.err, "Прервано пользователем (SIGTERM)\n");
  EXPECT_GT(Number(Value(polled.out, "010C", "Обороты двигателя")), 500) << polled.out;
}

// The adapter check over the simulator's pseudo-terminal: every step passes
// for the ISO 9141 car; the simulator's wrong key bytes are named at the
// initialisation; without an adapter or a configuration the first step that
// cannot pass is named, with the exit status.
TEST_F(CliE2eTest, DoctorNamesTheStepThatFails) {
  {
    const std::string pty = StartSimulator("auto");
    ASSERT_FALSE(pty.empty());
    Result ok = Cli({"--config", "ECU/CARINA_7AFE.ini", "doctor", "--port", pty});
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(
        ok.out.find(" 8. Инициализация (ISO 9141): OK\n    адрес 33 на 5 бод: синхронизация 55"),
        std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find(" 9. Первый запрос: OK\n    запрос 68 6A F1 01 01 C5, ответ 41 01"),
              std::string::npos)
        << ok.out;
    EXPECT_NE(ok.out.find("Итог: все проверки пройдены.\n"), std::string::npos);
    StopSimulator();
  }
  {
    const std::string pty = StartSimulator("corolla_3zz_5baud", {"--fault", "wrong-keys"});
    ASSERT_FALSE(pty.empty());
    Result keys = Cli({"--config", "ECU/COROLLA_3ZZ.ini", "doctor", "--port", pty});
    EXPECT_EQ(keys.status, 3);
    EXPECT_NE(keys.out.find(" 7. Эхо адаптера: OK\n"), std::string::npos) << keys.out;
    EXPECT_NE(keys.out.find(" 8. Инициализация (5 бод, ISO 14230): ОШИБКА\n    неожиданные "
                            "ключевые байты 08 08: в конфигурации KW2 = 8F"),
              std::string::npos)
        << keys.out;
    EXPECT_NE(keys.out.find("    Что сделать: Укажите в настройках KW2 = 08"), std::string::npos);
    EXPECT_NE(keys.out.find(" 9. Первый запрос: не проверялось\n"), std::string::npos);
    EXPECT_NE(keys.out.find("первая ошибка на шаге 8 (Инициализация (5 бод, ISO 14230))"),
              std::string::npos);
    StopSimulator();
  }
  const std::string missing = (dir_ / "ttyUSB9").string();
  Result gone = Cli({"--config", "ECU/CAMRY_2AZ.ini", "doctor", "--port", missing});
  EXPECT_EQ(gone.status, 3);
  EXPECT_NE(gone.out.find(" 2. Устройство: ОШИБКА\n    " + missing + ": устройство не найдено"),
            std::string::npos)
      << gone.out;
  EXPECT_NE(gone.out.find(" 7. Эхо адаптера: не проверялось\n"), std::string::npos);

  Result noConfig = Cli({"doctor", "--port", missing});
  EXPECT_EQ(noConfig.status, 2);
  EXPECT_NE(noConfig.out.find(" 1. Конфигурация: ОШИБКА\n    ecu.ini: файл не найден"),
            std::string::npos)
      << noConfig.out;
}

}  // namespace
