#include "stream/overlay.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "tracking/game_time.h"
#include "tracking/level_names.h"
#include "tracking/tracker_states.h"

namespace {

// A bounded writer: once something does not fit, everything after it is refused.
struct JsonOut {
    char* out;
    size_t size;
    size_t length;
    bool full;
};

void Put(JsonOut& json, const char* format, ...) {
    if (json.full) return;
    va_list args;
    va_start(args, format);
    const int wrote = std::vsnprintf(json.out + json.length, json.size - json.length, format, args);
    va_end(args);
    if (wrote < 0 || static_cast<size_t>(wrote) >= json.size - json.length) {
        json.full = true;
        return;
    }
    json.length += static_cast<size_t>(wrote);
}

// A JSON string; '<' and '>' escaped too, for the copy that sits in the page's script.
void PutString(JsonOut& json, const char* text) {
    Put(json, "\"");
    for (const char* c = text; *c != '\0'; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u == '"' || u == '\\' || u == '<' || u == '>' || u == '&')
            Put(json, "\\u%04x", u);
        else
            Put(json, "%c", *c);
    }
    Put(json, "\"");
}

// Unsigned counters read as the screen's %d reads them.
int AsInt(uint32_t value) { return static_cast<int>(static_cast<int32_t>(value)); }

// A name without the screen's padding ("SC " -> "SC").
void PutName(JsonOut& json, uint32_t levelIndex) { PutString(json, LevelName(levelIndex)); }

}  // namespace

size_t FormatStatsJson(const GameSnapshot& snapshot, const char* levelLine, char* out, size_t size) {
    const TrackerStats& stats = snapshot.stats;
    const RamMirror& ram = snapshot.ram;
    JsonOut json{out, size, 0, size == 0};
    const TrackerState state = stats.trackerState;
    const bool tracking = TrackingActive(state) || state == TrackerState::Ending;
    const char* status = TrackingActive(state) ? "Tracking active" : state == TrackerState::Ending ? "Game End"
                                                                                                  : "Ready to track";
    Put(json, "{\"tracking\":%s,\"status\":", tracking ? "true" : "false");
    PutString(json, status);
    Put(json, ",\"state\":");
    PutString(json, TrackerStateName(state));
    Put(json, ",\"level\":");
    PutName(json, stats.levelIndex);
    // The level's timer as the debug line shows it; the run's times as the total line does.
    Put(json, ",\"levelTime\":\"%02d:%02d.%02.0f\"", AsInt(ram.timerMinutes), AsInt(ram.timerSeconds),
        TimerHundredths(ram.timerFrame));
    const ShownTotalTime time = ShowTotalTime(stats);
    Put(json, ",\"igt\":\"%02d:%02d\",\"adjusted\":\"%02d:%02d.%02.0f\"", time.minutes, time.seconds,
        time.adjustedMinutes, time.adjustedSeconds, time.adjustedHundredths);
    const LevelCounts& totals = stats.run.totals;
    Put(json, ",\"deaths\":%d,\"lag\":%d,\"pauses\":%d,\"rings\":%d,\"collected\":%d,\"hits\":%d,\"p2Hits\":%d",
        AsInt(totals.deaths), AsInt(totals.lagFrames), AsInt(totals.pauses), AsInt(totals.rings),
        AsInt(totals.collected), AsInt(totals.p1Hits), AsInt(stats.run.p2Hits));
    // The averages in single precision, as the screen's statistics work them out.
    const float attempts = stats.run.sixTapAttempts != 0 ? static_cast<float>(stats.run.sixTapAttempts) : 1.0f;
    const float charge = stats.run.chargeFractionSum * 100.0f * (1.0f / attempts);
    const float speed = stats.run.speedFractionSum * 100.0f * (1.0f / attempts);
    Put(json, ",\"spindash\":{\"attempts\":%d,\"perfect\":%d,\"charge\":\"%.2f\",\"speed\":\"%.2f\"}",
        AsInt(stats.run.sixTapAttempts), AsInt(totals.perfectSpindashes), static_cast<double>(charge),
        static_cast<double>(speed));
    Put(json, ",\"best\":");
    PutString(json, levelLine != nullptr ? levelLine : "");
    Put(json, ",\"levels\":[");
    const int32_t records = StoredRecordCount(stats);
    for (int32_t i = 0; i < records; ++i) {
        const LevelRecord& record = stats.run.records[i];
        const LevelCounts& counts = record.counts;
        Put(json, "%s{\"level\":", i == 0 ? "" : ",");
        PutName(json, record.levelIndex);
        Put(json,
            ",\"time\":\"%02d:%02d.%02.0f\",\"specialStage\":%s,\"perfect\":%d,\"hits\":%d,\"pauses\":%d,"
            "\"deaths\":%d,\"lag\":%d,\"rings\":%d,\"collected\":%d}",
            record.minutes, record.seconds, static_cast<double>(record.centiseconds),
            record.specialStage ? "true" : "false", AsInt(counts.perfectSpindashes), AsInt(counts.p1Hits),
            AsInt(counts.pauses), AsInt(counts.deaths), AsInt(counts.lagFrames), AsInt(counts.rings),
            AsInt(counts.collected));
    }
    Put(json, "]}");
    if (json.full) {
        if (size > 0) out[0] = '\0';
        return 0;
    }
    return json.length;
}

// The page: no file, no outside asset, no font to fetch. The background stays
// transparent for the browser source; the text has a dark edge so it reads
// over any part of the game. URL parameters pick what shows.
const char kOverlayPageBefore[] = R"page(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Ringwatch overlay</title>
<meta name="viewport" content="width=device-width">
<style>
html,body{background:transparent;margin:0}
body{font:bold 20px/1.3 "DejaVu Sans Mono",Consolas,monospace;color:#fff;padding:8px;width:max-content;
text-shadow:-1px -1px 0 #000,1px -1px 0 #000,-1px 1px 0 #000,1px 1px 0 #000,0 0 4px #000}
section{margin:0 0 4px}
.label{opacity:.8;font-weight:normal}
table{border-collapse:collapse;font-size:.7em}td{padding:0 .6em 0 0;text-align:right}td:first-child{text-align:left}
</style></head><body>
<section id="level"><span id="levelName"></span> <span id="levelTime"></span> <span id="state" class="label"></span></section>
<section id="run"><span class="label">IGT</span> <span id="igt"></span> <span class="label">Adjusted</span> <span id="adjusted"></span></section>
<section id="counts"><span class="label">Deaths</span> <span id="deaths"></span> <span class="label">Lag</span> <span id="lag"></span> <span class="label">Pauses</span> <span id="pauses"></span> <span class="label">Rings</span> <span id="rings"></span> (<span id="collected"></span>) <span class="label">Hits</span> <span id="hits"></span></section>
<section id="spindash"><span class="label">Spindash 6-tap</span> <span id="attempts"></span> <span class="label">perfect</span> <span id="perfect"></span> <span class="label">charge</span> <span id="charge"></span>% <span class="label">speed</span> <span id="speed"></span>%</section>
<section id="best"><span id="bestLine"></span></section>
<section id="levels"><table id="levelTable"></table></section>
<script>
"use strict";
const initial=)page";

const char kOverlayPageAfter[] = R"page(;
const query=new URLSearchParams(location.search);
const shown=(query.get("show")||"level,run,counts,spindash,best").split(",");
for(const s of document.querySelectorAll("section"))s.hidden=!shown.includes(s.id);
const size=parseInt(query.get("size"),10);
if(size>0&&size<200)document.body.style.fontSize=size+"px";
const color=query.get("color")||"";
if(/^[0-9a-fA-F]{3,8}$/.test(color))document.body.style.color="#"+color;
else if(/^[a-zA-Z]+$/.test(color))document.body.style.color=color;
if(query.get("align")==="right")document.body.style.marginLeft="auto",document.body.style.textAlign="right";
function set(id,value){document.getElementById(id).textContent=value}
function render(s){
set("levelName",s.tracking?s.level:s.status);set("levelTime",s.tracking?s.levelTime:"");
set("state",s.tracking?s.state:"");
set("igt",s.igt);set("adjusted",s.adjusted);
for(const k of["deaths","lag","pauses","rings","collected","hits"])set(k,s[k]);
for(const k of["attempts","perfect","charge","speed"])set(k,s.spindash[k]);
set("bestLine",s.best);
const table=document.getElementById("levelTable");table.textContent="";
for(const l of s.levels){const row=table.insertRow();
for(const v of[l.level+(l.specialStage?" (SS)":""),l.time,"D "+l.deaths,"L "+l.lag,"R "+l.rings])row.insertCell().textContent=v}
}
render(initial);
function listen(){
const events=new EventSource("/events");
events.onmessage=e=>render(JSON.parse(e.data));
// The browser tries again by itself while Ringwatch is away; a stream it gave up on is opened anew.
events.onerror=()=>{if(events.readyState===EventSource.CLOSED)setTimeout(listen,2000)};
}
listen();
</script></body></html>
)page";

int LiveSplitOneMessages(const LiveSplitCommand& command, char (*out)[kLiveSplitOneMessageSize]) {
    switch (command.kind) {
        case LiveSplitCommandKind::PauseGameTime:
            return 0;
        case LiveSplitCommandKind::Reset:
            std::snprintf(out[0], kLiveSplitOneMessageSize, "{\"command\":\"reset\"}");
            return 1;
        case LiveSplitCommandKind::StartTimer:
            std::snprintf(out[0], kLiveSplitOneMessageSize, "{\"command\":\"start\"}");
            std::snprintf(out[1], kLiveSplitOneMessageSize, "{\"command\":\"initializeGameTime\"}");
            std::snprintf(out[2], kLiveSplitOneMessageSize, "{\"command\":\"pauseGameTime\"}");
            return 3;
        case LiveSplitCommandKind::Split:
            std::snprintf(out[0], kLiveSplitOneMessageSize, "{\"command\":\"split\"}");
            return 1;
        case LiveSplitCommandKind::SetGameTime: {
            // livesplit-core reads [hours:][minutes:]seconds[.fraction].
            const int64_t t = command.hundredths < 0 ? 0 : command.hundredths;
            std::snprintf(out[0], kLiveSplitOneMessageSize,
                          "{\"command\":\"setGameTime\",\"time\":\"%" PRId64 ":%02d:%02d.%02d\"}", t / 360000,
                          static_cast<int>(t / 6000 % 60), static_cast<int>(t / 100 % 60), static_cast<int>(t % 100));
            return 1;
        }
    }
    return 0;
}
