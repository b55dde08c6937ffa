// Where the device's traffic goes: its own hosts table, which answers its lookups before the PC's
// resolver is asked; redirects of its connects; and a policy of the destinations it may connect to.
// All are set from the command line before the start; with none, every lookup goes to the resolver
// and every connect where the device asks.
#pragma once

#include <cstddef>
#include <cstdint>

// Most bytes of the words that say how a connect was routed, its NUL included.
constexpr size_t kRouteWordsBytes = 96;

// Takes the hosts table in the file `path` (UTF-8): lines "ADDRESS NAME [NAME...]", # comments,
// IPv4 addresses (a line of another kind is passed over), names matched without regard to case,
// "*.example.org" matching every name below example.org, 0.0.0.0 blocking its names. A line that
// cannot be read is told (FrontTell) by file and line number, and skipped. Returns null, or why the
// file cannot be used ("cannot be read: ..."). Called at the start.
const char* UseHostsFile(const char* path);

// Adds the redirect `text`, "A.B.C.D[:PORT]=E.F.G.H[:PORT]": a connect to the first address (and
// port, when given) goes to the second (and port, when given) instead. Returns null, or why the
// text is refused. Called at the start.
const char* AddRedirect(const char* text);

// Adds the rule `text`, "A.B.C.D/N[:PORT]", that allows (`allow` 1) or denies a connect to the
// addresses of that net (and that port, when given). The first rule a destination matches decides;
// when none does, the connect is allowed unless a rule allows. Returns null, or why the text is
// refused. Called at the start.
const char* AddRule(int allow, const char* text);

// The hosts table's answer for `name`: 1 with its address, 0 when no line names it, -1 when its
// line blocks it. The table is read again first when its file changed; a file gone leaves the last
// table in use, told once. Reader thread only.
int LookUpInHostsTable(const char* name, uint8_t address[4]);

// Where a connect to the IPv4 `address` and `port` goes: `to` and `toPort` get the destination (a
// redirect's, or the same), `how` (kRouteWordsBytes) the redirect and rule applied ("" when none).
// Returns 1 when the policy allows it, 0 when it denies it (told once a destination). Reader thread
// only.
int RouteConnect(const uint8_t address[4], uint16_t port, uint8_t to[4], uint16_t* toPort,
                 char* how);
