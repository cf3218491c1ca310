#include "soundserver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

// The recorder's latency asked of the server. The null sink renders that far
// ahead of its clock, so a recorded sample arrives up to this early.
constexpr double RecordLatency = 0.002;

double monotonicNow()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Starts argv with the environment changed by overrides ("NAME=value"), its
// standard output and error on outFd. The child ends with this process.
pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &overrides, int outFd)
{
    // Built before fork: between fork and exec only async-signal-safe calls.
    std::vector<std::string> env = overrides;
    for (char **e = environ; *e; ++e) {
        const char *eq = std::strchr(*e, '=');
        bool overridden = false;
        for (const std::string &o : overrides)
            overridden |= eq && o.compare(0, o.find('=') + 1, *e, eq - *e + 1) == 0;
        if (!overridden)
            env.emplace_back(*e);
    }
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(outFd, STDOUT_FILENO);
        dup2(outFd, STDERR_FILENO);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

bool alive(pid_t pid, int *status = nullptr)
{
    int ended = 0;
    const bool running = waitpid(pid, &ended, WNOHANG) == 0;
    if (status)
        *status = ended;
    return running;
}

// Why a child ended, for the reason a test is skipped with: 127 is the exec
// that failed, else the last line the program wrote.
std::string endReason(const char *program, int status, const std::string &log)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return std::string(program) + " is not installed";
    std::string text, line;
    std::ifstream in(log);
    while (std::getline(in, line))
        if (!line.empty())
            text = line;
    return std::string(program) + " ended at start: " + text;
}

void end(pid_t &pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int waited = 0; waitpid(pid, nullptr, WNOHANG) == 0; waited += 10) {
        if (waited == 3000)
            kill(pid, SIGKILL);
        poll(nullptr, 0, 10);
    }
    pid = -1;
}

bool canConnect(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

} // namespace

bool SoundServer::fail(const std::string &why)
{
    m_error = why;
    stop();
    return false;
}

bool SoundServer::start(const std::string &folder)
{
    stop();
    m_socket = folder + "/native";
    if (m_socket.size() >= sizeof(sockaddr_un::sun_path))
        return fail("socket path too long: " + m_socket);
    const std::string log = folder + "/pulseaudio.log";
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0)
        return fail(log + ": " + std::strerror(errno));
    // Runtime and state folders of its own, so that daemons of parallel runs
    // and a desktop's own never meet.
    m_daemon = spawn({"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
                      "--load=module-null-sink sink_name=beep format=s16le channels=1 rate=" + std::to_string(Rate),
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_socket},
                     {"HOME=" + folder, "XDG_CONFIG_HOME=" + folder, "PULSE_RUNTIME_PATH=" + folder,
                      "PULSE_STATE_PATH=" + folder},
                     logFd);
    close(logFd);
    if (m_daemon < 0)
        return fail(std::string("fork: ") + std::strerror(errno));
    for (int waited = 0; !canConnect(m_socket); waited += 20) {
        int status;
        if (!alive(m_daemon, &status)) {
            m_daemon = -1;
            return fail(endReason("pulseaudio", status, log));
        }
        if (waited >= 10000)
            return fail("pulseaudio did not open " + m_socket + " within 10 s");
        poll(nullptr, 0, 20);
    }

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return fail(std::string("pipe: ") + std::strerror(errno));
    m_recorder = spawn({"parec", "-d", "beep.monitor", "--raw", "--format=s16le", "--channels=1",
                        "--rate=" + std::to_string(Rate), "--latency-msec=" + std::to_string(int(RecordLatency * 1000))},
                       {"PULSE_SERVER=" + address()}, pipeFds[1]);
    close(pipeFds[1]);
    if (m_recorder < 0) {
        close(pipeFds[0]);
        return fail(std::string("fork: ") + std::strerror(errno));
    }
    m_reader = std::thread(&SoundServer::readRecording, this, pipeFds[0]);
    for (int waited = 0; samples().size() < Rate / 10; waited += 20) {
        int status;
        if (!alive(m_recorder, &status)) {
            m_recorder = -1;
            return fail(endReason("parec", status, std::string()));
        }
        if (waited >= 10000)
            return fail("parec recorded nothing within 10 s");
        poll(nullptr, 0, 20);
    }
    return true;
}

void SoundServer::stop()
{
    end(m_recorder);
    if (m_reader.joinable())
        m_reader.join();
    end(m_daemon);
}

void SoundServer::readRecording(int fd)
{
    int16_t buffer[4096];
    size_t carried = 0; // bytes of a sample split across reads
    for (;;) {
        const ssize_t n = read(fd, reinterpret_cast<char *>(buffer) + carried, sizeof buffer - carried);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const double now = monotonicNow();
        const size_t bytes = carried + size_t(n);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_samples.insert(m_samples.end(), buffer, buffer + bytes / 2);
        m_origin = std::min(m_origin, now - double(m_samples.size()) / Rate);
        carried = bytes % 2;
        if (carried)
            std::memmove(buffer, reinterpret_cast<char *>(buffer) + bytes - 1, 1);
    }
    close(fd);
}

std::vector<int16_t> SoundServer::samples() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_samples;
}

double SoundServer::timeOf(double index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_origin + RecordLatency + index / Rate;
}
