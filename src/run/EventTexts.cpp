#include "run/EventTexts.h"

#include <string_view>
#include <utility>

#include "run/Journal.h"
#include "comm/HexCommand.h"
#include "run/ControllerRun.h"

namespace ristova::run {

namespace {

using Texts = std::pair<std::string_view, std::string_view>;

template <std::size_t N>
std::string Lookup(const Texts (&texts)[N], const std::string& code) {
    for (const auto& [from, to] : texts)
        if (code == from) return std::string(to);
    return code;
}

constexpr Texts kKinds[] = {
    {"on", "接通"},    {"off", "断开"},         {"switch", "切换"},
    {"state", "状态"}, {"mismatch", "不一致"},  {"line", "通信"},
    {"run", "运行"},   {"journal", "运行记录"}, {"remote", "远程连接"},
};

constexpr Texts kSources[] = {
    {"plan", "计划"},   {"catch-up", "补发"}, {"start-on", "启动接通"},  {"manual", "手动"},
    {"remote", "远程"}, {"restore", "恢复"},  {"re-assert", "重连补发"}, {"board", "控制器"},
    {"engine", "程序"}, {"api", "接口"},      {"broker", "消息服务器"},
};

constexpr Texts kResults[] = {
    {"sent", "已发送"},
    {"not-sent", "未发送"},
    {"failed", "发送失败"},
    {"dropped", "已丢弃"},
    {"skipped", "已跳过"},
    {"refused", "被拒绝"},
    {"lost", "通信中断"},
    {"reconnected", "已重新连接"},
    {"no-answer", "无应答"},
    {"answering", "恢复应答"},
    {"started", "开始运行"},
    {"stopped", "停止运行"},
    {"plan chosen", "选定计划表"},
    {"plan reloaded", "计划表已更新"},
    {"date change", "日期变更"},
    {"error", "错误"},
    {"setting-invalid", "参数无效"},
    {"decoder-not-loaded", "处理程序无法加载"},
    {"plan-rows-unreadable", "计划表有无法识别的行"},
    {"connected", "已连接"},
    {"unreachable", "无法连接"},
    {"login-refused", "登录被拒绝"},
    {"warning", "警告"},
};

// The refusals' codes, as ControllerRun::Switch publishes them.
constexpr Texts kRefusals[] = {
    {kRefusedNotRunning, "未在运行"},
    {kRefusedManualOff, "不允许手动操作"},
    {kRefusedNoRelay, "没有该继电器"},
    {kRefusedUnknownState, kUnknownStateRefused},
    {kRefusedBadRequest, "指令既非接通也非断开"},
};

bool IsStateKind(const std::string& kind) {
    return kind == "state" || kind == "mismatch";
}

std::string StateText(const std::string& state) {
    return state == "1" ? "接通" : state == "0" ? "断开" : state;
}

}  // namespace

std::string KindText(const std::string& kind) {
    return Lookup(kKinds, kind);
}

std::string SourceText(const std::string& source) {
    return Lookup(kSources, source);
}

std::string ResultText(const std::string& kind, const std::string& result) {
    // The journal's own row tells of rows it could not keep.
    if (kind == "journal" && result == "lost") return "记录丢失";
    return IsStateKind(kind) ? StateText(result) : Lookup(kResults, result);
}

std::string DetailText(const std::string& kind, const std::string& detail) {
    // A mismatch says which state the command wanted.
    constexpr std::string_view kWanted = "wanted ";
    if (kind == "mismatch" && detail.starts_with(kWanted))
        return "应为" + StateText(detail.substr(kWanted.size()));
    if (const auto folded = ParseAggregated(detail)) {
        const std::string text =
            "自" + folded->from + "起共" + std::to_string(folded->count) + "次";
        return folded->lastDetail.empty() ? text : text + ",最后:" + folded->lastDetail;
    }
    return detail;
}

RunEvent ShownEvent(const RunEvent& event) {
    RunEvent shown = event;
    shown.kind = KindText(event.kind);
    shown.source = SourceText(event.source);
    shown.result = ResultText(event.kind, event.result);
    shown.detail = DetailText(event.kind, event.detail);
    return shown;
}

std::string SwitchRefusalText(const RunEvent& event) {
    if (event.result == "refused") return Lookup(kRefusals, event.detail);
    if (event.result == "failed") return std::string(comm::kSendFailedPrefix) + event.detail;
    if (event.result != "not-sent")
        return ResultText(event.kind, event.result) + " " + event.detail;
    if (event.detail.starts_with(kNotSentInvalid))
        return std::string(comm::kCommandInvalidPrefix) +
               event.detail.substr(kNotSentInvalid.size());
    if (event.detail == kNotSentTooLong) return std::string(comm::kCommandTooLong);
    if (event.detail == kNotSentPortClosed) return "端口未打开,未发送";
    // The line is lost: the detail is the command.
    return kNotSentPrefix + event.detail;
}

}  // namespace ristova::run
