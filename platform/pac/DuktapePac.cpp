// Proxy auto-config scripts in Duktape. Each run has a heap of its own whose
// every block is counted against kPacMemory and kept in a list; the deadline
// is read by the executor's interrupt and by the built-ins' long loops (see
// duk_config_overrides.h); deep recursion stops at a stack budget. An error
// that escapes every protected call reaches the fatal handler, which jumps
// back here, and the run's blocks are given back without the heap.
//
// Duktape unwinds its errors with longjmp, through the native functions here:
// no object with a destructor lives in a frame Duktape may jump over (the C++
// work of a native function ends before it pushes its result, which waits in
// the run's scratch string).
#include "platform/Proxy.h"

#include "duktape.h"

#include <algorithm>
#include <charconv>
#include <csetjmp>
#include <cstdlib>
#include <new>

namespace tarnwell::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxAnswer = 4096;          // the longest result taken from FindProxyForURL
constexpr std::uintptr_t kStackBudget = 256 << 10;  // native stack a run may use below RunPac's frame
constexpr unsigned long kTickSpan = 1ul << 16;    // units of built-in work between reads of the clock

// A block of the heap, behind the header that links it into its run's list.
struct alignas(std::max_align_t) Block {
    Block* prev;
    Block* next;
    std::size_t size;
};

struct Run {
    Clock::time_point deadline;
    const PacHost* host = nullptr;
    Block blocks{&blocks, &blocks, 0};  // the list's sentinel
    std::size_t used = 0;               // bytes of every block with its header
    bool refused = false;               // an allocation went past kPacMemory
    bool expired = false;               // the deadline passed
    unsigned long work = 0;             // built-in work since the clock was read
    std::string scratch;                // a native function's text result
    std::jmp_buf fatal;
};

thread_local std::uintptr_t tStackBase = 0;

std::uintptr_t StackHere() { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); }

Run& RunOf(duk_context* ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return *static_cast<Run*>(functions.udata);
}

void Link(Run& run, Block* b) {
    b->prev = &run.blocks, b->next = run.blocks.next;
    run.blocks.next->prev = b, run.blocks.next = b;
    run.used += sizeof(Block) + b->size;
}

void Unlink(Run& run, Block* b) {
    b->prev->next = b->next, b->next->prev = b->prev;
    run.used -= sizeof(Block) + b->size;
}

bool Fits(Run& run, std::size_t size) {
    const bool fits = size <= kPacMemory && run.used + sizeof(Block) + size <= kPacMemory;
    run.refused |= !fits;
    return fits;
}

void* Allocate(void* udata, duk_size_t size) {
    Run& run = *static_cast<Run*>(udata);
    if (!Fits(run, size)) return nullptr;
    auto* b = static_cast<Block*>(std::malloc(sizeof(Block) + size));
    if (!b) return run.refused = true, nullptr;
    b->size = size;
    Link(run, b);
    return b + 1;
}

void Release(void* udata, void* ptr) {
    if (!ptr) return;
    Block* b = static_cast<Block*>(ptr) - 1;
    Unlink(*static_cast<Run*>(udata), b);
    std::free(b);
}

void* Reallocate(void* udata, void* ptr, duk_size_t size) {
    if (!ptr) return Allocate(udata, size);
    Run& run = *static_cast<Run*>(udata);
    Block* old = static_cast<Block*>(ptr) - 1;
    Unlink(run, old);
    Block* b = Fits(run, size) ? static_cast<Block*>(std::realloc(old, sizeof(Block) + size)) : nullptr;
    if (!b) return Link(run, old), run.refused = true, nullptr;
    b->size = size;
    Link(run, b);
    return b + 1;
}

void ReleaseAll(Run& run) {
    while (run.blocks.next != &run.blocks) Release(&run, run.blocks.next + 1);
}

[[noreturn]] void Fatal(void* udata, const char*) { std::longjmp(static_cast<Run*>(udata)->fatal, 1); }

// ---- the globals a PAC script gets ----------------------------------------

enum Native { kDnsResolve, kDnsResolveEx, kMyIpAddress, kMyIpAddressEx, kIsInNetEx, kSortIpAddressList };

constexpr struct {
    const char* name;
    Native native;
} kNatives[] = {
    {"dnsResolve", kDnsResolve},     {"dnsResolveEx", kDnsResolveEx}, {"myIpAddress", kMyIpAddress},
    {"myIpAddressEx", kMyIpAddressEx}, {"isInNetEx", kIsInNetEx},       {"sortIpAddressList", kSortIpAddressList},
};

// What a native function returns: the text is in Run::scratch; Throw is a
// RangeError (no memory for the work).
enum class Give { Null, False, True, Text, Throw };

std::vector<Address> Resolve(Run& run, std::string_view name) {
    if (auto literal = Address::Parse(name)) return {*literal};
    if (name.empty() || name.size() > 255 || name.find('\0') != name.npos || !run.host->resolve ||
        Clock::now() >= run.deadline)
        return {};
    return run.host->resolve(std::string(name), run.deadline);
}

std::vector<Address> Own(Run& run) {
    std::vector<Address> own = run.host->ownAddresses ? run.host->ownAddresses() : std::vector<Address>{};
    std::erase_if(own, [](const Address& a) { return a.IsLoopback() || a.IsUnspecified(); });
    return own;
}

Give Join(Run& run, const std::vector<Address>& list) {
    run.scratch.clear();
    for (const Address& a : list) run.scratch.append(run.scratch.empty() ? "" : ";").append(a.Text());
    return Give::Text;
}

// isInNetEx(ip, "prefix/length"): both addresses of one family, the first
// `length` bits alike.
bool InPrefix(std::string_view ip, std::string_view prefix) {
    const std::size_t slash = prefix.find('/');
    if (slash == prefix.npos) return false;
    const auto addr = Address::Parse(ip), net = Address::Parse(prefix.substr(0, slash));
    const std::string_view digits = prefix.substr(slash + 1);
    unsigned bits = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    if (!addr || !net || addr->family() != net->family() || ec != std::errc{} || end != digits.data() + digits.size() ||
        digits.empty() || digits.size() > 3 || bits > addr->Bytes().size() * 8)
        return false;
    const auto a = addr->Bytes(), n = net->Bytes();
    for (unsigned k = 0; k < bits; ++k)
        if (((a[k / 8] ^ n[k / 8]) >> (7 - k % 8)) & 1) return false;
    return true;
}

// sortIpAddressList("b;a"): IPv6 addresses first, then IPv4, each in order;
// false when an entry is no address or the list is empty.
Give Sort(Run& run, std::string_view list) {
    std::vector<Address> addresses;
    for (std::size_t at = 0; at <= list.size();) {
        std::size_t end = std::min(list.find(';', at), list.size());
        std::string_view entry = list.substr(at, end - at);
        while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
        while (!entry.empty() && entry.back() == ' ') entry.remove_suffix(1);
        const auto a = Address::Parse(entry);
        if (!a) return Give::False;
        addresses.push_back(*a);
        at = end + 1;
    }
    std::sort(addresses.begin(), addresses.end(), [](const Address& a, const Address& b) {
        if (a.IsV4() != b.IsV4()) return b.IsV4();
        return std::ranges::lexicographical_compare(a.Bytes(), b.Bytes());
    });
    return Join(run, addresses);
}

// What each function gives when it has nothing: no argument it takes, or a
// host function that failed.
Give Nothing(Run& run, Native native) {
    switch (native) {
    case kDnsResolve: return Give::Null;
    case kMyIpAddress: return run.scratch = "127.0.0.1", Give::Text;
    case kDnsResolveEx:
    case kMyIpAddressEx: return run.scratch.clear(), Give::Text;
    case kIsInNetEx:
    case kSortIpAddressList: break;
    }
    return Give::False;
}

Give Compute(Run& run, Native native, std::string_view a, std::string_view b) noexcept {
    try {
        switch (native) {
        case kDnsResolve:
            for (const Address& found : Resolve(run, a))
                if (found.IsV4()) return run.scratch = found.Text(), Give::Text;
            return Give::Null;
        case kDnsResolveEx: return Join(run, Resolve(run, a));
        case kMyIpAddress:
            for (const Address& own : Own(run))
                if (own.IsV4()) return run.scratch = own.Text(), Give::Text;
            return Nothing(run, native);
        case kMyIpAddressEx: return Join(run, Own(run));
        case kIsInNetEx: return InPrefix(a, b) ? Give::True : Give::False;
        case kSortIpAddressList: return Sort(run, a);
        }
    } catch (const std::bad_alloc&) {
        run.refused = true;
        return Give::Throw;
    } catch (...) {
        // A host function that failed found nothing.
    }
    return Nothing(run, native);
}

// Every native function: string arguments only (as Chromium takes them),
// without coercion that would run the script's code.
duk_ret_t CallNative(duk_context* ctx) {
    const auto native = static_cast<Native>(duk_get_current_magic(ctx));
    duk_size_t na = 0, nb = 0;
    const char* a = duk_get_lstring(ctx, 0, &na);
    const char* b = duk_get_lstring(ctx, 1, &nb);
    const bool takesString = native != kMyIpAddress && native != kMyIpAddressEx;
    Run& run = RunOf(ctx);
    const Give give = takesString && (!a || (native == kIsInNetEx && !b))
                          ? Nothing(run, native)
                          : Compute(run, native, {a ? a : "", na}, {b ? b : "", nb});
    switch (give) {
    case Give::Null: duk_push_null(ctx); break;
    case Give::False: duk_push_false(ctx); break;
    case Give::True: duk_push_true(ctx); break;
    case Give::Text: duk_push_lstring(ctx, run.scratch.data(), run.scratch.size()); break;
    case Give::Throw: return DUK_RET_RANGE_ERROR;
    }
    return 1;
}

// The globals written in the script's own language, as Chromium gives them.
constexpr std::string_view kPrelude = R"js(
var __months = ['JAN','FEB','MAR','APR','MAY','JUN','JUL','AUG','SEP','OCT','NOV','DEC'];
var __days = ['SUN','MON','TUE','WED','THU','FRI','SAT'];
function alert() {}
function getClientVersion() { return '1.0'; }
function isPlainHostName(h) { return String(h).indexOf('.') < 0; }
function dnsDomainIs(h, d) {
  h = String(h); d = String(d);
  return h.length >= d.length && h.substring(h.length - d.length) === d;
}
function localHostOrDomainIs(h, full) {
  h = String(h); full = String(full);
  return h === full || (h.indexOf('.') < 0 && full.lastIndexOf(h + '.', 0) === 0);
}
function dnsDomainLevels(h) { return String(h).split('.').length - 1; }
function isResolvable(h) { return dnsResolve(h) !== null; }
function isResolvableEx(h) { return dnsResolveEx(h) !== ''; }
function __quad(s) {
  var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(s), n = 0;
  if (!m) return null;
  for (var i = 1; i < 5; i++) { if (+m[i] > 255) return null; n = n * 256 + +m[i]; }
  return n;
}
function isInNet(h, pattern, mask) {
  var a = __quad(String(h));
  if (a === null) { var r = dnsResolve(String(h)); a = r === null ? null : __quad(r); }
  var p = __quad(String(pattern)), m = __quad(String(mask));
  if (a === null || p === null || m === null) return false;
  return ((a & m) >>> 0) === ((p & m) >>> 0);
}
function shExpMatch(s, exp) {
  var re = String(exp).replace(/[.+^${}()|[\]\\\/]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.');
  return new RegExp('^' + re + '$').test(String(s));
}
function __gmt(args) { var a = [].slice.call(args); return [a, a.length > 0 && a[a.length - 1] === 'GMT']; }
function __within(lo, x, hi) { return lo <= hi ? lo <= x && x <= hi : x >= lo || x <= hi; }
function weekdayRange() {
  var g = __gmt(arguments), a = g[0], now = new Date();
  if (g[1]) a.pop();
  var d = g[1] ? now.getUTCDay() : now.getDay(), x = __days.indexOf(a[0]);
  var y = a.length > 1 ? __days.indexOf(a[1]) : x;
  return x >= 0 && y >= 0 && a.length <= 2 && __within(x, d, y);
}
function timeRange() {
  var g = __gmt(arguments), a = g[0], now = new Date();
  if (g[1]) a.pop();
  for (var i = 0; i < a.length; i++) { a[i] = parseInt(a[i], 10); if (isNaN(a[i])) return false; }
  var h = g[1] ? now.getUTCHours() : now.getHours();
  var t = h * 3600 + (g[1] ? now.getUTCMinutes() : now.getMinutes()) * 60 +
          (g[1] ? now.getUTCSeconds() : now.getSeconds());
  switch (a.length) {
  case 1: return h === a[0];
  case 2: return __within(a[0] * 3600, t, a[1] * 3600 - 1);
  case 4: return __within(a[0] * 3600 + a[1] * 60, t, a[2] * 3600 + a[3] * 60 - 1);
  case 6: return __within(a[0] * 3600 + a[1] * 60 + a[2], t, a[3] * 3600 + a[4] * 60 + a[5]);
  }
  return false;
}
function __dateParts(vals) {
  var r = {};
  for (var i = 0; i < vals.length; i++) {
    var v = vals[i], k, m = __months.indexOf(v);
    if (m >= 0) { k = 'm'; v = m; }
    else if (typeof v === 'number' || /^\d{1,4}$/.test(v)) { v = +v; k = v > 31 ? 'y' : 'd'; }
    else return null;
    if (k in r) return null;
    r[k] = v;
  }
  return r;
}
function __dateKey(r, like) {
  return ('y' in like ? r.y * 10000 : 0) + ('m' in like ? r.m * 100 : 0) + ('d' in like ? r.d : 0);
}
function dateRange() {
  var g = __gmt(arguments), a = g[0], now = new Date();
  if (g[1]) a.pop();
  var n = a.length;
  if (n < 1 || n > 6 || (n > 1 && n % 2)) return false;
  var lo = __dateParts(n === 1 ? a : a.slice(0, n / 2)), hi = __dateParts(n === 1 ? a : a.slice(n / 2));
  if (!lo || !hi || Object.keys(lo).sort().join() !== Object.keys(hi).sort().join()) return false;
  var cur = g[1] ? { d: now.getUTCDate(), m: now.getUTCMonth(), y: now.getUTCFullYear() }
                 : { d: now.getDate(), m: now.getMonth(), y: now.getFullYear() };
  return 'y' in lo ? __dateKey(lo, lo) <= __dateKey(cur, lo) && __dateKey(cur, lo) <= __dateKey(hi, lo)
                   : __within(__dateKey(lo, lo), __dateKey(cur, lo), __dateKey(hi, lo));
}
)js";

duk_ret_t Setup(duk_context* ctx, void*) {
    for (const auto& n : kNatives) {
        duk_push_c_function(ctx, CallNative, 2);
        duk_set_magic(ctx, -1, n.native);
        duk_put_global_string(ctx, n.name);
    }
    duk_eval_lstring_noresult(ctx, kPrelude.data(), kPrelude.size());
    return 0;
}

duk_ret_t CallOne(duk_context* ctx, void* udata) {
    const auto* call = static_cast<const PacCall*>(udata);
    duk_get_global_string(ctx, "FindProxyForURL");
    if (!duk_is_callable(ctx, -1)) return DUK_RET_TYPE_ERROR;
    duk_push_lstring(ctx, call->url.data(), call->url.size());
    duk_push_lstring(ctx, call->host.data(), call->host.size());
    duk_call(ctx, 2);
    return 1;
}

// The fault of a run that stopped on an error: the deadline, the memory, or
// else the script's own.
PacFault FaultOf(Run& run, PacFault otherwise) {
    if (run.expired || Clock::now() >= run.deadline) return PacFault::Timeout;
    return run.refused ? PacFault::Memory : otherwise;
}

// The heap's life: the script, then each call in turn.
[[gnu::noinline]] PacFault Interpret(Run& run, duk_context* ctx, std::string_view script,
                                     const std::vector<PacCall>& calls, std::vector<std::string>& results) {
    if (duk_safe_call(ctx, Setup, nullptr, 0, 1) != DUK_EXEC_SUCCESS ||
        duk_pcompile_lstring(ctx, 0, script.data(), script.size()) != 0 || duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS)
        return FaultOf(run, PacFault::Script);
    for (const PacCall& call : calls) {
        duk_set_top(ctx, 0);
        duk_size_t size = 0;
        const char* text = nullptr;
        if (duk_safe_call(ctx, CallOne, const_cast<PacCall*>(&call), 0, 1) != DUK_EXEC_SUCCESS)
            return FaultOf(run, PacFault::Script);
        if (!(text = duk_get_lstring(ctx, -1, &size)) || size > kMaxAnswer) return PacFault::Answer;
        try {
            results.emplace_back(text, size);
        } catch (const std::bad_alloc&) {
            return PacFault::Memory;
        }
    }
    return PacFault::None;
}

// Duktape's fatal handler jumps back to the setjmp here: this frame holds
// nothing that changes after it.
PacFault Contain(Run& run, std::string_view script, const std::vector<PacCall>& calls,
                 std::vector<std::string>& results) {
    if (setjmp(run.fatal) != 0) {
        ReleaseAll(run);
        return FaultOf(run, PacFault::Script);
    }
    duk_context* ctx = duk_create_heap(Allocate, Reallocate, Release, &run, Fatal);
    if (!ctx) {
        ReleaseAll(run);
        return PacFault::Memory;
    }
    const PacFault fault = Interpret(run, ctx, script, calls, results);
    // The heap goes without duk_destroy_heap, which would run what the
    // script left to run at its end: it holds nothing but its blocks.
    ReleaseAll(run);
    return fault;
}

}  // namespace

extern "C" int tarnwell_pac_expired(void* udata) {
    Run& run = *static_cast<Run*>(udata);
    run.expired = run.expired || Clock::now() >= run.deadline;
    return run.expired;
}

extern "C" int tarnwell_pac_tick(void* udata, unsigned long cost) {
    Run& run = *static_cast<Run*>(udata);
    if ((run.work += cost) < kTickSpan && !run.expired) return 0;
    run.work = 0;
    return tarnwell_pac_expired(udata);
}

extern "C" int tarnwell_pac_stack_low(void) { return tStackBase && tStackBase - StackHere() > kStackBudget; }

PacOutcome RunPac(std::string_view script, const std::vector<PacCall>& calls,
                  std::chrono::steady_clock::time_point deadline, const PacHost& host) {
    PacOutcome out;
    if (Clock::now() >= deadline) return out.fault = PacFault::Timeout, out;
    Run run;
    run.deadline = deadline;
    run.host = &host;
    const std::uintptr_t outer = tStackBase;  // a run inside a host function of another keeps its budget
    tStackBase = outer ? outer : StackHere();
    out.fault = Contain(run, script, calls, out.results);
    tStackBase = outer;
    if (out.fault != PacFault::None) out.results.clear();
    return out;
}

}  // namespace tarnwell::platform
