#include "cli/cli_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnhold::test {

namespace {

std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A JSON reader just strict enough to tell well-formed lines from others.
class TJsonReader {
public:
    explicit TJsonReader(const std::string& text) : s_(text) {}

    bool Object(std::map<std::string, std::string>* members) {
        Blank();
        if (!Take('{'))
            return false;
        Blank();
        if (Take('}'))
            return true;
        for (;;) {
            Blank();
            std::string name, value;
            if (!String(&name))
                return false;
            Blank();
            if (!Take(':'))
                return false;
            Blank();
            const std::size_t start = pos_;
            if (Peek() == '"') {
                if (!String(&value))
                    return false;
            } else {
                if (!Value())
                    return false;
                value = s_.substr(start, pos_ - start);
            }
            if (members != nullptr && !members->emplace(name, value).second)
                return false; // a name twice
            Blank();
            if (Take('}'))
                return true;
            if (!Take(','))
                return false;
        }
    }

    bool AtEnd() {
        Blank();
        return pos_ == s_.size();
    }

private:
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c)
            return false;
        ++pos_;
        return true;
    }
    void Blank() {
        while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) != nullptr)
            ++pos_;
    }
    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0)
            return false;
        pos_ += n;
        return true;
    }
    bool String(std::string* out) {
        if (!Take('"'))
            return false;
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            const char e = Peek();
            ++pos_;
            if (e == 'u') {
                if (pos_ + 4 > s_.size())
                    return false;
                const unsigned long cp = std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16);
                pos_ += 4;
                if (cp < 0x80) {
                    out->push_back(static_cast<char>(cp));
                } else if (cp < 0x800) {
                    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
                    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                } else {
                    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
                    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
                }
            } else {
                const char* from = "\"\\/bfnrt";
                const char* to = "\"\\/\b\f\n\r\t";
                const char* at = e != '\0' ? std::strchr(from, e) : nullptr;
                if (at == nullptr)
                    return false;
                out->push_back(to[at - from]);
            }
        }
        return false;
    }
    bool Number() {
        const std::size_t start = pos_;
        Take('-');
        while (std::isdigit(static_cast<unsigned char>(Peek())) || Peek() == '.' || Peek() == 'e' ||
               Peek() == 'E' || Peek() == '+' || Peek() == '-')
            ++pos_;
        return pos_ > start;
    }
    bool Value() {
        const char c = Peek();
        if (c == '"') {
            std::string ignored;
            return String(&ignored);
        }
        if (c == '{')
            return Object(nullptr);
        if (c == '[') {
            ++pos_;
            Blank();
            if (Take(']'))
                return true;
            for (;;) {
                Blank();
                if (!Value())
                    return false;
                Blank();
                if (Take(']'))
                    return true;
                if (!Take(','))
                    return false;
            }
        }
        return Literal("true") || Literal("false") || Literal("null") || Number();
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

} // namespace

TCliResult RunCli(const std::vector<std::string>& args, const TCliRunOptions& options) {
    TCliResult result;
    char outName[] = "/tmp/trh-cli-outXXXXXX";
    char errName[] = "/tmp/trh-cli-errXXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    int terminal = -1; // the master side of a pseudo-terminal
    int inFd = -1;
    if (options.Typed) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
            return result;
        inFd = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
        ::close(errFd);
        errFd = ::dup(inFd);
    } else {
        inFd = ::open("/dev/null", O_RDONLY);
    }
    int redirectFd = options.OutFile.empty() ? -1 : ::open(options.OutFile.c_str(), O_WRONLY);
    if (outFd < 0 || errFd < 0 || inFd < 0)
        return result;

    std::vector<std::string> argv = {options.Program.empty() ? TARNHOLD_CLI : options.Program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        if (options.Env.count(var.substr(0, var.find('='))) == 0)
            env.push_back(var);
    }
    for (const auto& [name, value] : options.Env) {
        if (value)
            env.push_back(name + "=" + *value);
    }
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    posix_spawn_file_actions_adddup2(&actions, redirectFd >= 0 ? redirectFd : outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outFd);
    ::close(errFd);
    ::close(inFd);
    if (redirectFd >= 0)
        ::close(redirectFd);
    std::string shown;
    if (terminal >= 0) {
        if (!options.Typed->empty() &&
            ::write(terminal, options.Typed->data(), options.Typed->size()) < 0)
            shown = "(typing failed)";
        char buf[4096];
        for (ssize_t n; (n = ::read(terminal, buf, sizeof buf)) > 0;)
            shown.append(buf, static_cast<std::size_t>(n));
        ::close(terminal);
    }
    if (rc == 0) {
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.ExitCode = WEXITSTATUS(status);
    }
    result.Out = Slurp(outName);
    result.Err = terminal >= 0 ? shown : Slurp(errName);
    ::unlink(outName);
    ::unlink(errName);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

std::optional<std::map<std::string, std::string>> ParseJsonObject(const std::string& line) {
    std::map<std::string, std::string> members;
    TJsonReader reader(line);
    if (!reader.Object(&members) || !reader.AtEnd())
        return std::nullopt;
    return members;
}

} // namespace tarnhold::test
