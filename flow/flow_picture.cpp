#include "flow/flow_picture.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <poll.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace flow {
namespace {

const char* const kFont = "DejaVu Sans";

// Graphviz's C interface takes non-const strings it does not change.
char* c(const std::string& s) { return const_cast<char*>(s.c_str()); }
void set(void* obj, const std::string& name, const std::string& value) {
    agsafeset(obj, c(name), c(value), c(std::string()));
}

struct GraphGuard {
    GVC_t* gvc = nullptr;
    Agraph_t* g = nullptr;
    bool laidOut = false;
    ~GraphGuard() {
        if (laidOut)
            gvFreeLayout(gvc, g);
        if (g)
            agclose(g);
        if (gvc)
            gvFreeContext(gvc);
    }
};

// Colours by the worst finding of a menu.
struct Look {
    const char* fill;
    const char* line;
};
Look lookFor(int grade) {
    switch (grade) {
    case 0:
        return {"#f6c4c4", "#c00000"};
    case 1:
        return {"#fde3a7", "#c07000"};
    case 2:
        return {"#dbe8fb", "#3060a0"};
    default:
        return {"#eef5ea", "#406040"};
    }
}

class Builder {
public:
    Builder(const CallFlow& f, const PictureOptions& o, Agraph_t* graph) : flow(f), opt(o), g(graph) {}

    void build() {
        set(g, "rankdir", "LR");
        set(g, "fontname", kFont);
        set(g, "nodesep", "0.25");
        set(g, "ranksep", "0.6");
        agattr(g, AGNODE, c("fontname"), c(kFont));
        agattr(g, AGEDGE, c("fontname"), c(kFont));
        agattr(g, AGNODE, c("fontsize"), c("11"));
        agattr(g, AGEDGE, c("fontsize"), c("10"));
        for (const Finding& fd : opt.findings)
            if (fd.menu >= 0) {
                auto it = worst.find(fd.menu);
                const int grade = static_cast<int>(fd.grade);
                if (it == worst.end() || grade < it->second)
                    worst[fd.menu] = grade;
            }
        for (auto [menu, event] : opt.path)
            pathEvents.insert({menu, event});
        pathMenus.insert(opt.pathMenus.begin(), opt.pathMenus.end());

        computeDepths();
        if (dense) {
            // Dot's own limits on its searches; a dense flow is better drawn a little rougher than not at
            // all.
            set(g, "mclimit", "0.3");
            set(g, "nslimit", "2");
            set(g, "nslimit1", "2");
        }
        Agraph_t* left = agsubg(g, c("lines"), 1);
        set(left, "rank", "source");
        for (const Line& l : flow.lines) {
            if (!l.exists)
                continue;
            Agnode_t* n = agnode(left, c("line_" + std::to_string(l.number)), 1);
            set(n, "id", "line_" + std::to_string(l.number));
            set(n, "label", "Линия " + std::to_string(l.number));
            set(n, "shape", "cds");
            set(n, "style", "filled");
            set(n, "fillcolor", opt.pathLine == l.number ? "#9cc3f5" : "#d0d8e8");
            const std::pair<const char*, int> entries[] = {
                {"день", l.dayMenu}, {"ночь", l.nightMenu}, {"праздник", l.holidayMenu}};
            // One arrow per target menu, labelled with every period that leads there.
            std::map<int, std::string> byMenu;
            for (const auto& [period, menu] : entries)
                byMenu[menu] += (byMenu[menu].empty() ? "" : ", ") + std::string(period);
            for (const auto& [menu, text] : byMenu) {
                Agedge_t* e = agedge(g, n, menuNode(menu), nullptr, 1);
                edgeLabel(e, text);
                if (opt.pathLine == l.number && pathMenus.count(menu))
                    bold(e);
            }
        }
        for (int k : pictureMenus(flow))
            if (flow.menu(k))
                menuEdges(*flow.menu(k));
    }

private:
    const CallFlow& flow;
    const PictureOptions& opt;
    Agraph_t* g;
    std::map<int, int> worst;
    std::set<std::pair<int, int>> pathEvents;
    std::set<int> pathMenus;
    std::map<int, int> depth; // steps from a line, by the shortest way
    bool dense = false;

    // Dot ranks boxes by every arrow; with fifty menus all leading to each other the ranks stretch into long
    // chains and every arrow across them costs dot hundreds of hidden nodes (seconds of layout). So only the
    // arrows that go one step further from the lines rank the boxes; the others are drawn without pulling.
    void computeDepths() {
        std::vector<int> queue;
        for (const Line& l : flow.lines)
            if (l.exists)
                for (int k : {l.dayMenu, l.nightMenu, l.holidayMenu})
                    if (depth.emplace(k, 1).second)
                        queue.push_back(k);
        int arrows = 0;
        for (std::size_t i = 0; i < queue.size(); ++i) {
            const Menu* m = flow.menu(queue[i]);
            if (!m)
                continue;
            for (const Action& a : m->actions) {
                if (a.kind == Action::Kind::None)
                    continue;
                ++arrows;
                if ((a.kind == Action::Kind::ToMenu || a.kind == Action::Kind::ToOperator) &&
                    depth.emplace(a.menu, depth[queue[i]] + 1).second)
                    queue.push_back(a.menu);
            }
        }
        dense = arrows > 120;
    }
    // Whether an arrow between two menus ranks them.
    bool ranks(int from, int to) const {
        const auto f = depth.find(from), t = depth.find(to);
        return f == depth.end() || t == depth.end() || t->second == f->second + 1;
    }
    // Labels on dense arrows are placed beside them, not as boxes of their own in the ranking.
    void edgeLabel(Agedge_t* e, const std::string& text) { set(e, dense ? "xlabel" : "label", text); }

    void bold(Agedge_t* e) {
        set(e, "penwidth", "3");
        set(e, "color", "#1060d0");
        set(e, "fontcolor", "#1060d0");
    }

    Agnode_t* menuNode(int k) {
        const std::string id = menuElementId(k);
        if (Agnode_t* n = agnode(g, c(id), 0))
            return n;
        Agnode_t* n = agnode(g, c(id), 1);
        set(n, "id", id);
        const Menu* m = flow.menu(k);
        if (!m) {
            set(n, "label", "меню " + std::to_string(k) + "\nнет в устройстве");
            set(n, "shape", "box");
            set(n, "style", "filled,dashed");
            set(n, "fillcolor", "#f6c4c4");
            set(n, "color", "#c00000");
            return n;
        }
        std::string label = "меню " + std::to_string(k);
        if (!m->description.empty())
            label += "\n" + m->description;
        if (m->message.decodable)
            label += "\n" + oneDecimal(m->message.seconds) + " с";
        else if (m->message.named())
            label += "\nфайл не читается";
        else
            label += "\nбез сообщения";
        if (m->callOperatorOnStart)
            label +=
                "\n+ оператор " + (m->operatorOnStart == 0 ? std::string("все") : std::to_string(m->operatorOnStart));
        set(n, "label", label);
        set(n, "shape", "box");
        set(n, "style", "filled,rounded");
        const auto it = worst.find(k);
        const Look look = lookFor(it == worst.end() ? 3 : it->second);
        set(n, "fillcolor", look.fill);
        set(n, "color", pathMenus.count(k) ? "#1060d0" : look.line);
        if (pathMenus.count(k))
            set(n, "penwidth", "3");
        return n;
    }

    Agnode_t* endNode(std::string id, const std::string& label, const std::string& shape, bool exists, int menu) {
        // In a dense flow every menu gets its own end shapes, so no arrow crosses the whole picture to reach
        // one.
        if (dense)
            id += "_m" + std::to_string(menu);
        if (Agnode_t* n = agnode(g, c(id), 0))
            return n;
        Agnode_t* n = agnode(g, c(id), 1);
        set(n, "id", id);
        set(n, "label", exists ? label : label + "\nнет в устройстве");
        set(n, "shape", shape);
        set(n, "style", exists ? "filled" : "filled,dashed");
        set(n, "fillcolor", exists ? "#e4e4e4" : "#f6c4c4");
        if (!exists)
            set(n, "color", "#c00000");
        return n;
    }

    void menuEdges(const Menu& m) {
        Agnode_t* from = menuNode(m.number);
        // Digits that do the same thing share one arrow.
        std::map<std::pair<Agnode_t*, bool>, std::pair<std::string, bool>>
            arrows; // (target, fall-back) -> label, on path
        auto addArrow = [&](Agnode_t* to, bool fallBack, const std::string& text1, bool onPath) {
            auto& [text, path] = arrows[{to, fallBack}];
            text += (text.empty() ? "" : ",") + text1;
            path = path || onPath;
        };
        for (int ev = 0; ev < kEventCount; ++ev) {
            const Action& a = m.actions[static_cast<std::size_t>(ev)];
            const bool onPath = pathEvents.count({m.number, ev}) > 0;
            const std::string digit = eventLabel(ev);
            switch (a.kind) {
            case Action::Kind::None:
                break;
            case Action::Kind::ToMenu:
                addArrow(menuNode(a.menu), false, digit, onPath);
                break;
            case Action::Kind::ToOperator: {
                const std::string name =
                    a.operatorLine == 0 ? "Все операторы" : "Оператор " + std::to_string(a.operatorLine);
                Agnode_t* op = endNode("operator_" + std::to_string(a.operatorLine), name, "doubleoctagon",
                                       flow.operatorExists(a.operatorLine), m.number);
                addArrow(op, false, digit + " (" + std::to_string(a.waitSeconds) + " с)", onPath);
                addArrow(menuNode(a.menu), true, digit, false);
                break;
            }
            case Action::Kind::Mailbox:
                addArrow(endNode("mailbox_" + std::to_string(a.mailbox + 1), "Ящик " + std::to_string(a.mailbox + 1),
                                 "cylinder", flow.mailboxExists(a.mailbox), m.number),
                         false, digit, onPath);
                break;
            case Action::Kind::Back:
                addArrow(endNode("back", "Назад", "larrow", true, m.number), false, digit, onPath);
                break;
            }
        }
        for (const auto& [key, value] : arrows) {
            Agedge_t* e = agedge(g, from, key.first, nullptr, 1);
            edgeLabel(e, key.second ? value.first + ": нет ответа" : value.first);
            const int to = menuOfElementId(agnameof(key.first));
            if (to >= 0 && !ranks(m.number, to))
                set(e, "constraint", "false");
            if (key.second) {
                set(e, "style", "dashed");
                set(e, "color", "#707070");
            }
            if (value.second)
                bold(e);
        }
        if (m.callOperatorOnStart) {
            Agnode_t* op =
                endNode("operator_" + std::to_string(m.operatorOnStart),
                        m.operatorOnStart == 0 ? "Все операторы" : "Оператор " + std::to_string(m.operatorOnStart),
                        "doubleoctagon", flow.operatorExists(m.operatorOnStart), m.number);
            Agedge_t* e = agedge(g, from, op, nullptr, 1);
            edgeLabel(e, "во время сообщения");
            set(e, "style", "dotted");
        }
    }
};

// Lays the graph out and renders it in a child process, so that a layout that runs away can be stopped: the
// library has no way to interrupt itself. The child hands the rendered bytes back through a pipe.
bool renderInChild(GraphGuard& gg, const std::string& format, int timeoutMs, std::string& out, std::string& why) {
    int fds[2];
    if (::pipe(fds) != 0) {
        why = std::string("не удалось создать канал: ") + std::strerror(errno);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        why = std::string("не удалось запустить раскладку: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        int rc = 1;
        if (gvLayout(gg.gvc, gg.g, "dot") == 0) {
            char* data = nullptr;
            unsigned int length = 0;
            if (gvRenderData(gg.gvc, gg.g, format.c_str(), &data, &length) == 0 && data) {
                rc = 0;
                for (unsigned int done = 0; done < length;) {
                    const ssize_t n = ::write(fds[1], data + done, length - done);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0) {
                        rc = 1;
                        break;
                    }
                    done += static_cast<unsigned int>(n);
                }
            }
        }
        ::close(fds[1]);
        ::_exit(rc);
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    char buf[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        why = "схема не разложилась за " + std::to_string(timeoutMs / 1000) + " с";
        out.clear();
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || out.empty()) {
        why = "Graphviz не смог разложить схему";
        out.clear();
        return false;
    }
    return true;
}

std::string actionText(const Action& a) {
    switch (a.kind) {
    case Action::Kind::ToMenu:
        return "меню " + std::to_string(a.menu);
    case Action::Kind::ToOperator:
        return (a.operatorLine == 0 ? std::string("все операторы") : "оператор " + std::to_string(a.operatorLine)) +
               ", " + std::to_string(a.waitSeconds) + " с, нет ответа: меню " + std::to_string(a.menu);
    case Action::Kind::Mailbox:
        return "ящик " + std::to_string(a.mailbox + 1);
    case Action::Kind::Back:
        return "назад";
    case Action::Kind::None:
        break;
    }
    return {};
}

// Graphviz's record labels treat these as markup; the list is drawn as plain text.
std::string escapeLabel(const std::string& s) {
    std::string r;
    for (char ch : s) {
        if (ch == '\\' || ch == '"')
            r += '\\';
        r += ch;
    }
    return r;
}

} // namespace

std::string menuElementId(int menu) { return "menu_" + std::to_string(menu); }

int menuOfElementId(const std::string& id) {
    if (id.rfind("menu_", 0) != 0 || id.size() == 5 || id.size() > 9)
        return -1;
    int v = 0;
    for (std::size_t i = 5; i < id.size(); ++i) {
        if (id[i] < '0' || id[i] > '9')
            return -1;
        v = v * 10 + (id[i] - '0');
    }
    return v;
}

std::vector<int> pictureMenus(const CallFlow& flow) {
    const auto reach = reachableMenus(flow);
    std::vector<int> out;
    for (const Menu& m : flow.menus)
        if (m.exists &&
            ((m.number < static_cast<int>(reach.size()) && reach[static_cast<std::size_t>(m.number)]) || !m.isBlank()))
            out.push_back(m.number);
    return out;
}

std::string pictureFormatFor(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ext == "svg" || ext == "png" || ext == "pdf" ? ext : std::string();
}

std::vector<std::string> flowAsList(const CallFlow& flow) {
    std::vector<std::string> lines;
    for (const Line& l : flow.lines)
        if (l.exists)
            lines.push_back("Линия " + std::to_string(l.number) + ": день — меню " + std::to_string(l.dayMenu) +
                            ", ночь — меню " + std::to_string(l.nightMenu) + ", праздник — меню " +
                            std::to_string(l.holidayMenu));
    for (int k : pictureMenus(flow)) {
        const Menu& m = flow.menus[static_cast<std::size_t>(k)];
        std::string head = "Меню " + std::to_string(k);
        if (!m.description.empty())
            head += " «" + m.description + "»";
        head += m.message.decodable ? ", " + oneDecimal(m.message.seconds) + " с" : std::string(", без сообщения");
        lines.push_back(head);
        for (int ev = 0; ev < kEventCount; ++ev) {
            const Action& a = m.actions[static_cast<std::size_t>(ev)];
            if (a.kind != Action::Kind::None)
                lines.push_back("    " + eventLabel(ev) + " → " + actionText(a));
        }
    }
    return lines;
}

Picture drawCallFlow(const CallFlow& flow, const PictureOptions& options, const std::string& format) {
    Picture pic;
    {
        GraphGuard gg;
        gg.gvc = gvContext();
        gg.g = agopen(c("callflow"), Agdirected, nullptr);
        Builder(flow, options, gg.g).build();
        if (renderInChild(gg, format, options.timeoutMs, pic.data, pic.message)) {
            pic.laidOut = true;
            return pic;
        }
    }
    // The plain list: one text node needs no layout worth the name.
    pic.message = "Схема не показана (" + pic.message + "): вместо неё список меню и переходов.";
    std::string label = escapeLabel(pic.message) + "\\l\\l";
    for (const std::string& line : flowAsList(flow))
        label += escapeLabel(line) + "\\l";
    GraphGuard gg;
    gg.gvc = gvContext();
    gg.g = agopen(c("callflow"), Agdirected, nullptr);
    Agnode_t* n = agnode(gg.g, c("list"), 1);
    set(n, "shape", "plaintext");
    set(n, "fontname", kFont);
    set(n, "label", label);
    if (gvLayout(gg.gvc, gg.g, "dot") == 0) {
        gg.laidOut = true;
        char* data = nullptr;
        unsigned int length = 0;
        if (gvRenderData(gg.gvc, gg.g, format.c_str(), &data, &length) == 0 && data) {
            pic.data.assign(data, length);
            gvFreeRenderData(data);
        }
    }
    return pic;
}

} // namespace flow
