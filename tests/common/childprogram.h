#ifndef CHILDPROGRAM_H
#define CHILDPROGRAM_H

// A program of this build run as a child process, its standard output and
// error merged into one pipe, stopped by its pid.
//
// Plain fork and exec rather than QProcess: under qemu-aarch64, Qt 5.15's
// QProcess takes the emulator's refusal of clone(CLONE_PIDFD) for a started
// child of pid -1, and its kill() then signals every process of the user.
// A cross build's programs do not run on the build machine by themselves
// (there is no binfmt_misc): when CTest gives the build's emulator in
// HEADUNIT_TEST_EMULATOR (its words separated by spaces), the child starts
// through it, and the emulator passes signals on to the program.
//
// Test thread only.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildProgram
{
public:
    ChildProgram() = default;
    ChildProgram(const ChildProgram &) = delete;
    ChildProgram &operator=(const ChildProgram &) = delete;
    ~ChildProgram() { kill(); }

    // False, with the reason in errorString(), when no child could be made.
    bool start(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
    {
        kill();
        QStringList command = qEnvironmentVariable("HEADUNIT_TEST_EMULATOR").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        command << program << arguments;
        // Built before fork: between fork and exec only async-signal-safe calls.
        std::vector<QByteArray> argStore, envStore;
        for (const QString &word : command)
            argStore.push_back(word.toLocal8Bit());
        for (const QString &entry : environment.toStringList())
            envStore.push_back(entry.toLocal8Bit());
        std::vector<char *> argv = pointers(argStore), envp = pointers(envStore);

        // A program that cannot be executed shows as exit status 127.
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0)
            return fail(errno);
        const pid_t pid = ::fork();
        if (pid == 0) {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(output[1], STDERR_FILENO);
            ::execvpe(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        const int forkError = errno;
        ::close(output[1]);
        if (pid < 0) {
            ::close(output[0]);
            return fail(forkError);
        }
        ::fcntl(output[0], F_SETFL, O_NONBLOCK);
        m_pid = pid;
        m_output = output[0];
        m_status = -1;
        return true;
    }

    // What the program wrote since the last call; never blocks.
    QByteArray readOutput()
    {
        drainOutput();
        QByteArray data;
        data.swap(m_pending);
        return data;
    }

    bool terminate() { return signal(SIGTERM); }
    bool signal(int signo) { return m_pid > 0 && ::kill(m_pid, signo) == 0; }

    // True once the program has ended, within timeoutMs. Keeps reading its
    // output meanwhile, so that a full pipe never holds it up.
    bool waitForExit(int timeoutMs)
    {
        for (int waited = 0; m_pid > 0; waited += 10) {
            drainOutput();
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_status = status;
                return true;
            }
            if (waited >= timeoutMs)
                return false;
            ::poll(nullptr, 0, 10);
        }
        return m_status != -1;
    }

    // -1 unless the program has ended by exiting, not by a signal.
    int exitCode() const { return m_status != -1 && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1; }
    QString errorString() const { return m_error; }

    // Ends a running program at once and forgets its output.
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
        if (m_output >= 0)
            ::close(m_output);
        m_output = -1;
        m_pending.clear();
    }

private:
    void drainOutput()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = m_output >= 0 ? ::read(m_output, buffer, sizeof buffer) : 0;
            if (n > 0)
                m_pending.append(buffer, int(n));
            else if (n == 0 || errno != EINTR)
                return;
        }
    }

    static std::vector<char *> pointers(std::vector<QByteArray> &store)
    {
        std::vector<char *> result;
        for (QByteArray &s : store)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }

    bool fail(int error)
    {
        m_error = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }

    pid_t m_pid = -1;  // > 0 while started and not yet reaped
    int m_output = -1; // read end of the merged output pipe
    int m_status = -1; // waitpid() status once reaped
    QByteArray m_pending; // output read but not yet handed out
    QString m_error;
};

#endif // CHILDPROGRAM_H
