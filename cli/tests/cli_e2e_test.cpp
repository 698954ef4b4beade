// kestrel-cli against kestrel-ecusim over a pseudo-terminal, for every
// shipped configuration: live values, trouble codes with their descriptions,
// ECU information; and the exit statuses of the error paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

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
    fs::create_directory_symlink(fs::path(KESTREL_RUNTIME) / "ECU", dir_ / "ECU");
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
    std::vector<std::string> args = {KESTREL_ECUSIM, "--scenario", scenario};
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
    std::vector<std::string> all = {KESTREL_CLI, "--workdir", dir_.string()};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = Spawn(all, dir_ / "cli.out", dir_ / "cli.err", dir_);
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

  // Live values, codes with descriptions and ECU information of one
  // configuration against its scenario.
  void CheckConfiguration(const std::string& config, const std::string& scenario,
                          const std::string& ident, const std::string& vin) {
    const std::string pty = StartSimulator(scenario);
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

    Result dtc = Cli({"--config", "ECU/" + config, "--port", pty, "dtc"});
    ASSERT_EQ(dtc.status, 0) << dtc.err;
    EXPECT_NE(dtc.out.find("Текущие ошибки: 1\nP0171\tСлишком бедная смесь (Головка 1)\n"),
              std::string::npos)
        << dtc.out;
    EXPECT_NE(dtc.out.find("Сохраненные ошибки: 4\n"), std::string::npos) << dtc.out;
    EXPECT_NE(dtc.out.find("P0420\tЭффективность катализатора ниже порога (Головка 1)\n"),
              std::string::npos);
    EXPECT_NE(dtc.out.find("P0500\tДатчик скорости автомобиля: неисправность\n"),
              std::string::npos);

    Result info = Cli({"--config", "ECU/" + config, "--port", pty, "info"});
    ASSERT_EQ(info.status, 0) << info.err;
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
  CheckConfiguration("CAMRY_2AZ.ini", "camry_2az_fast", "89661", "JTNBE46K073012345");
}

TEST_F(CliE2eTest, Corolla5Baud) {
  CheckConfiguration("COROLLA_3ZZ.ini", "corolla_3zz_5baud", "89666", "JTDBZ42E509012345");
}

TEST_F(CliE2eTest, CarinaIso9141) {
  CheckConfiguration("CARINA_7AFE.ini", "carina_7afe_9141", "89661", "JT1AT190X05012345");
}

TEST_F(CliE2eTest, FreezeFrameClearAndDashboard) {
  const std::string pty = StartSimulator("camry_2az_fast");
  ASSERT_FALSE(pty.empty());
  Result freeze = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "--log", "freeze"});
  ASSERT_EQ(freeze.status, 0) << freeze.err;
  EXPECT_EQ(Value(freeze.out, "0202", "Код, сохранивший стоп-кадр"), "P0171");
  EXPECT_GT(Number(Value(freeze.out, "020C", "Обороты двигателя")), 500);
  // --log wrote the exchange log.
  bool logged = false;
  for (const auto& e : fs::directory_iterator(dir_ / "Kadr")) logged = logged || e.file_size() > 0;
  EXPECT_TRUE(logged);

  Result dash = Cli({"--config", "ECU/CAMRY_2AZ.ini", "--port", pty, "dashboard"});
  ASSERT_EQ(dash.status, 0) << dash.err;
  // The lever as the dashboard shows it: one of its pictures, or none loaded
  // yet when the first word read carries only 0x002.
  EXPECT_TRUE(std::regex_match(Value(dash.out, "selector", "Положение переключателя АКПП"),
                               std::regex("[L2R3DSN-]")))
      << dash.out;
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

}  // namespace
