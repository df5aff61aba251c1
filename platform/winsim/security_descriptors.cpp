#include "platform/winsim/security_descriptors.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace winsim {

namespace {

constexpr ACCESS_MASK kGenericBits = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

void put_word(std::vector<BYTE>& out, std::size_t at, WORD v) {
    std::memcpy(out.data() + at, &v, 2);
}
void put_dword(std::vector<BYTE>& out, std::size_t at, DWORD v) {
    std::memcpy(out.data() + at, &v, 4);
}
WORD word_at(const BYTE* p) {
    WORD v;
    std::memcpy(&v, p, 2);
    return v;
}
DWORD dword_at(const BYTE* p) {
    DWORD v;
    std::memcpy(&v, p, 4);
    return v;
}

// ---- SDDL tables
struct Alias {
    const char* text;
    SidValue (*sid)();
};
const Alias kSidAliases[] = {
    {"SY", sids::local_system},        {"BA", sids::administrators}, {"BU", sids::users},
    {"AU", sids::authenticated_users}, {"WD", sids::everyone},       {"CO", sids::creator_owner},
    {"CG", sids::creator_group},       {"IU", sids::interactive},
};

struct Right {
    const char* text;
    ACCESS_MASK mask;
};
// File aliases stand only for their exact masks.
const Right kFileAliases[] = {{"FA", FILE_ALL_ACCESS},
                              {"FR", FILE_GENERIC_READ},
                              {"FW", FILE_GENERIC_WRITE},
                              {"FX", FILE_GENERIC_EXECUTE}};
// In the order Windows writes them.
const Right kRights[] = {
    {"CC", 0x1},           {"DC", 0x2},          {"LC", 0x4},
    {"SW", 0x8},           {"RP", 0x10},         {"WP", 0x20},
    {"DT", 0x40},          {"LO", 0x80},         {"CR", 0x100},
    {"SD", DELETE},        {"RC", READ_CONTROL}, {"WD", WRITE_DAC},
    {"WO", WRITE_OWNER},   {"GA", GENERIC_ALL},  {"GX", GENERIC_EXECUTE},
    {"GW", GENERIC_WRITE}, {"GR", GENERIC_READ},
};
const Right kAceFlags[] = {{"OI", OBJECT_INHERIT_ACE},
                           {"CI", CONTAINER_INHERIT_ACE},
                           {"NP", NO_PROPAGATE_INHERIT_ACE},
                           {"IO", INHERIT_ONLY_ACE},
                           {"ID", INHERITED_ACE}};

std::string sid_text(const SidValue& sid) {
    for (const auto& a : kSidAliases)
        if (a.sid() == sid) return a.text;
    return sid.text();
}

std::string rights_text(ACCESS_MASK mask) {
    for (const auto& a : kFileAliases)
        if (a.mask == mask) return a.text;
    std::string out;
    ACCESS_MASK left = mask;
    for (const auto& r : kRights)
        if ((left & r.mask) == r.mask) {
            out += r.text;
            left &= ~r.mask;
        }
    if (left == 0 && !out.empty()) return out;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", mask);
    return buf;
}

// A cursor over SDDL text.
struct Reader {
    const std::string& s;
    std::size_t pos = 0;
    bool at_end() const { return pos >= s.size(); }
    bool take(const char* word) {
        const std::size_t n = std::strlen(word);
        if (s.compare(pos, n, word) != 0) return false;
        pos += n;
        return true;
    }
    // Up to (not including) one of |stops|, or the end.
    std::string until(const char* stops) {
        const std::size_t end = s.find_first_of(stops, pos);
        std::string out = s.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? s.size() : end;
        return out;
    }
};

// A SID string: an alias or S-1-...; |error| set to ERROR_NONE_MAPPED for an
// unknown alias, ERROR_INVALID_PARAMETER for malformed text.
std::optional<SidValue> parse_sid(const std::string& text, DWORD& error) {
    if (text.size() == 2 && std::isupper(static_cast<unsigned char>(text[0]))) {
        for (const auto& a : kSidAliases)
            if (text == a.text) return a.sid();
        error = ERROR_NONE_MAPPED;
        return std::nullopt;
    }
    if (text.rfind("S-1-", 0) != 0) {
        error = ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    SidValue v;
    std::size_t pos = 4, used = 0;
    try {
        const std::uint64_t authority = std::stoull(text.substr(pos), &used);
        pos += used;
        for (int i = 0; i < 6; ++i)
            v.authority[static_cast<std::size_t>(i)] = static_cast<BYTE>(authority
                                                                         >> (8 * (5 - i)));
        while (pos < text.size()) {
            if (text[pos] != '-' || pos + 1 >= text.size()
                || !std::isdigit(static_cast<unsigned char>(text[pos + 1])))
                throw std::invalid_argument("sid");
            ++pos;
            const unsigned long long sub = std::stoull(text.substr(pos), &used);
            if (sub > 0xFFFFFFFFull) throw std::out_of_range("sid");
            v.sub_authorities.push_back(static_cast<DWORD>(sub));
            pos += used;
        }
    } catch (const std::exception&) {
        error = ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    if (v.sub_authorities.empty() || v.sub_authorities.size() > 15) {
        error = ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    return v;
}

bool parse_codes(const std::string& text, const Right* table, std::size_t n, ACCESS_MASK& out) {
    out = 0;
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const std::string code = text.substr(i, 2);
        bool found = false;
        for (std::size_t k = 0; k < n && !found; ++k)
            if (code == table[k].text) {
                out |= table[k].mask;
                found = true;
            }
        if (!found) return false;
    }
    return true;
}

bool parse_rights(const std::string& text, ACCESS_MASK& out) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
        if (text.size() == 2 || text.size() > 10) return false;
        for (std::size_t i = 2; i < text.size(); ++i)
            if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
        out = static_cast<ACCESS_MASK>(std::stoul(text.substr(2), nullptr, 16));
        return true;
    }
    for (const auto& a : kFileAliases)
        if (text == a.text) {
            out = a.mask;
            return true;
        }
    return !text.empty() && parse_codes(text, kRights, std::size(kRights), out);
}

SidValue substitute(const SidValue& sid, const SidValue& owner, const SidValue& group) {
    if (sid == sids::creator_owner()) return owner;
    if (sid == sids::creator_group()) return group;
    return sid;
}

}  // namespace

ACCESS_MASK map_generic_file_rights(ACCESS_MASK mask) {
    ACCESS_MASK out = mask & ~kGenericBits;
    if (mask & GENERIC_READ) out |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE) out |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE) out |= FILE_GENERIC_EXECUTE;
    if (mask & GENERIC_ALL) out |= FILE_ALL_ACCESS;
    return out;
}

std::vector<BYTE> sid_bytes(const SidValue& sid) {
    const std::size_t n = sid.sub_authorities.size();
    std::vector<BYTE> out(8 + 4 * n);
    out[0] = 1;  // SID_REVISION
    out[1] = static_cast<BYTE>(n);
    std::memcpy(out.data() + 2, sid.authority.data(), 6);
    for (std::size_t i = 0; i < n; ++i) put_dword(out, 8 + 4 * i, sid.sub_authorities[i]);
    return out;
}

std::optional<SidValue> sid_at(const void* p) {
    if (!p) return std::nullopt;
    const BYTE* b = static_cast<const BYTE*>(p);
    if (b[0] != 1 || b[1] > 15) return std::nullopt;
    SidValue v;
    std::memcpy(v.authority.data(), b + 2, 6);
    for (BYTE i = 0; i < b[1]; ++i) v.sub_authorities.push_back(dword_at(b + 8 + 4 * i));
    return v;
}

std::vector<BYTE> acl_bytes(const std::vector<Ace>& aces) {
    std::vector<BYTE> out(sizeof(ACL));
    for (const auto& a : aces) {
        const auto sid = sid_bytes(a.sid);
        const std::size_t at = out.size();
        out.resize(at + 8 + sid.size());
        out[at] = a.type;
        out[at + 1] = a.flags;
        put_word(out, at + 2, static_cast<WORD>(8 + sid.size()));
        put_dword(out, at + 4, a.mask);
        std::memcpy(out.data() + at + 8, sid.data(), sid.size());
    }
    out[0] = ACL_REVISION;
    put_word(out, 2, static_cast<WORD>(out.size()));
    put_word(out, 4, static_cast<WORD>(aces.size()));
    return out;
}

bool aces_at(const void* acl, std::vector<Ace>& out) {
    out.clear();
    if (!acl) return false;
    const BYTE* b = static_cast<const BYTE*>(acl);
    if (b[0] < ACL_REVISION || b[0] > ACL_REVISION_DS) return false;
    const WORD size = word_at(b + 2), count = word_at(b + 4);
    std::size_t at = sizeof(ACL);
    for (WORD i = 0; i < count; ++i) {
        if (at + 8 > size) return false;
        const WORD ace_size = word_at(b + at + 2);
        if (ace_size < 16 || at + ace_size > size) return false;
        Ace a;
        a.type = b[at];
        a.flags = b[at + 1];
        if (a.type != ACCESS_ALLOWED_ACE_TYPE && a.type != ACCESS_DENIED_ACE_TYPE) return false;
        a.mask = dword_at(b + at + 4);
        auto sid = sid_at(b + at + 8);
        if (!sid || 8 + sid_bytes(*sid).size() > ace_size) return false;
        a.sid = *sid;
        out.push_back(std::move(a));
        at += ace_size;
    }
    return true;
}

std::vector<BYTE> self_relative_bytes(const SecurityDescriptor& sd) {
    std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = static_cast<WORD>(sd.control | SE_SELF_RELATIVE);
    auto append = [&out](const std::vector<BYTE>& part) {
        const DWORD at = static_cast<DWORD>(out.size());
        out.insert(out.end(), part.begin(), part.end());
        return at;
    };
    DWORD dacl = 0, owner = 0, group = 0;
    if (sd.dacl_present) {
        control |= SE_DACL_PRESENT;
        if (!sd.dacl_null) dacl = append(acl_bytes(sd.dacl));
    }
    if (sd.owner) owner = append(sid_bytes(*sd.owner));
    if (sd.group) group = append(sid_bytes(*sd.group));
    put_word(out, 2, control);
    put_dword(out, 4, owner);
    put_dword(out, 8, group);
    put_dword(out, 12, 0);
    put_dword(out, 16, dacl);
    return out;
}

std::optional<SecurityDescriptor> descriptor_at(const void* p) {
    if (!p) return std::nullopt;
    const BYTE* b = static_cast<const BYTE*>(p);
    if (b[0] != SECURITY_DESCRIPTOR_REVISION) return std::nullopt;
    const WORD control = word_at(b + 2);
    const void *owner = nullptr, *group = nullptr, *dacl = nullptr;
    if (control & SE_SELF_RELATIVE) {
        const DWORD o = dword_at(b + 4), g = dword_at(b + 8), d = dword_at(b + 16);
        owner = o ? b + o : nullptr;
        group = g ? b + g : nullptr;
        dacl = d ? b + d : nullptr;
    } else {
        const auto* abs = static_cast<const SECURITY_DESCRIPTOR*>(p);
        owner = abs->Owner;
        group = abs->Group;
        dacl = abs->Dacl;
    }
    SecurityDescriptor sd;
    sd.control = control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ);
    if (owner) {
        sd.owner = sid_at(owner);
        if (!sd.owner) return std::nullopt;
    }
    if (group) {
        sd.group = sid_at(group);
        if (!sd.group) return std::nullopt;
    }
    if (control & SE_DACL_PRESENT) {
        sd.dacl_present = true;
        if (!dacl)
            sd.dacl_null = true;
        else if (!aces_at(dacl, sd.dacl))
            return std::nullopt;
    }
    return sd;
}

std::optional<SecurityDescriptor> descriptor_from_sddl(const std::string& text, DWORD& error) {
    error = ERROR_INVALID_PARAMETER;
    SecurityDescriptor sd;
    Reader r{text};
    bool seen_owner = false, seen_group = false, seen_dacl = false;
    while (!r.at_end()) {
        if (r.take("O:") || r.take("G:")) {
            const bool is_owner = text[r.pos - 2] == 'O';
            if ((is_owner && seen_owner) || (!is_owner && seen_group)) return std::nullopt;
            // An alias is two letters; a literal SID runs over digits and dashes.
            std::string sid_text = text.substr(r.pos, 2);
            r.pos += sid_text.size();
            if (sid_text == "S-")
                while (r.pos < text.size()
                       && (std::isdigit(static_cast<unsigned char>(text[r.pos]))
                           || text[r.pos] == '-'))
                    sid_text += text[r.pos++];
            auto sid = parse_sid(sid_text, error);
            if (!sid) return std::nullopt;
            (is_owner ? sd.owner : sd.group) = *sid;
            (is_owner ? seen_owner : seen_group) = true;
        } else if (r.take("D:")) {
            if (seen_dacl) return std::nullopt;
            seen_dacl = true;
            sd.dacl_present = true;
            for (;;) {
                if (r.take("P"))
                    sd.control |= SE_DACL_PROTECTED;
                else if (r.take("AI"))
                    sd.control |= SE_DACL_AUTO_INHERITED;
                else if (r.take("AR"))
                    sd.control |= SE_DACL_AUTO_INHERIT_REQ;
                else if (r.take("NO_ACCESS_CONTROL"))
                    sd.dacl_null = true;
                else
                    break;
            }
            while (r.take("(")) {
                const std::string body = r.until(")");
                if (!r.take(")") || sd.dacl_null) return std::nullopt;
                std::vector<std::string> fields;
                std::size_t start = 0;
                for (;;) {
                    const std::size_t semi = body.find(';', start);
                    fields.push_back(body.substr(
                        start, semi == std::string::npos ? std::string::npos : semi - start));
                    if (semi == std::string::npos) break;
                    start = semi + 1;
                }
                if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty())
                    return std::nullopt;
                Ace ace;
                if (fields[0] == "A")
                    ace.type = ACCESS_ALLOWED_ACE_TYPE;
                else if (fields[0] == "D")
                    ace.type = ACCESS_DENIED_ACE_TYPE;
                else
                    return std::nullopt;
                ACCESS_MASK flags = 0;
                if (!parse_codes(fields[1], kAceFlags, std::size(kAceFlags), flags))
                    return std::nullopt;
                ace.flags = static_cast<BYTE>(flags);
                if (!parse_rights(fields[2], ace.mask)) return std::nullopt;
                auto sid = parse_sid(fields[5], error);
                if (!sid) return std::nullopt;
                ace.sid = *sid;
                sd.dacl.push_back(std::move(ace));
            }
        } else {
            return std::nullopt;
        }
    }
    error = ERROR_SUCCESS;
    return sd;
}

std::string sddl_of(const SecurityDescriptor& sd, SECURITY_INFORMATION parts) {
    std::string out;
    if ((parts & OWNER_SECURITY_INFORMATION) && sd.owner) out += "O:" + sid_text(*sd.owner);
    if ((parts & GROUP_SECURITY_INFORMATION) && sd.group) out += "G:" + sid_text(*sd.group);
    if ((parts & DACL_SECURITY_INFORMATION) && sd.dacl_present) {
        out += "D:";
        if (sd.control & SE_DACL_PROTECTED) out += "P";
        if (sd.control & SE_DACL_AUTO_INHERIT_REQ) out += "AR";
        if (sd.control & SE_DACL_AUTO_INHERITED) out += "AI";
        if (sd.dacl_null) out += "NO_ACCESS_CONTROL";
        for (const auto& a : sd.dacl) {
            out += a.type == ACCESS_DENIED_ACE_TYPE ? "(D;" : "(A;";
            for (const auto& f : kAceFlags)
                if (a.flags & f.mask) out += f.text;
            out += ";" + rights_text(a.mask) + ";;;" + sid_text(a.sid) + ")";
        }
    }
    return out;
}

std::vector<Ace> inherited_aces(const SecurityDescriptor& parent, bool container,
                                const SidValue& owner, const SidValue& group) {
    std::vector<Ace> out;
    if (!parent.dacl_present || parent.dacl_null) return out;
    for (const auto& a : parent.dacl) {
        const bool oi = a.flags & OBJECT_INHERIT_ACE, ci = a.flags & CONTAINER_INHERIT_ACE;
        const bool np = a.flags & NO_PROPAGATE_INHERIT_ACE;
        Ace effective{a.type, INHERITED_ACE, map_generic_file_rights(a.mask),
                      substitute(a.sid, owner, group)};
        if (!container) {
            if (oi) out.push_back(effective);
            continue;
        }
        if (ci) {
            if (np) {
                out.push_back(effective);
                continue;
            }
            const bool generic = a.sid == sids::creator_owner() || a.sid == sids::creator_group()
                                 || (a.mask & kGenericBits) != 0;
            const BYTE travel = static_cast<BYTE>(
                (a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) | INHERITED_ACE);
            if (generic) {
                // Mapped for this folder, kept generic for its children.
                out.push_back(effective);
                out.push_back(
                    Ace{a.type, static_cast<BYTE>(travel | INHERIT_ONLY_ACE), a.mask, a.sid});
            } else {
                out.push_back(Ace{a.type, travel, a.mask, a.sid});
            }
        } else if (oi && !np) {
            // Only for the files below: inherit-only here.
            out.push_back(Ace{
                a.type, static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE),
                a.mask, a.sid});
        }
    }
    return out;
}

SecurityDescriptor new_object_descriptor(const SecurityDescriptor& parent, bool container,
                                         const Identity& creator,
                                         const SecurityDescriptor* explicit_sd) {
    SecurityDescriptor sd;
    sd.owner = explicit_sd && explicit_sd->owner ? *explicit_sd->owner : creator.owner;
    sd.group = explicit_sd && explicit_sd->group ? *explicit_sd->group : creator.primary_group;
    sd.dacl_present = true;
    if (explicit_sd && explicit_sd->dacl_present) {
        if (explicit_sd->dacl_null) {
            sd.dacl_null = true;
            return sd;
        }
        if (explicit_sd->is_protected()) {
            sd.dacl = explicit_sd->dacl;
            sd.control = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
            return sd;
        }
        for (const auto& a : explicit_sd->dacl)
            if (!(a.flags & INHERITED_ACE)) sd.dacl.push_back(a);
        for (auto& a : inherited_aces(parent, container, *sd.owner, *sd.group))
            sd.dacl.push_back(a);
        sd.control = SE_DACL_AUTO_INHERITED;
        return sd;
    }
    sd.dacl = inherited_aces(parent, container, *sd.owner, *sd.group);
    if (!sd.dacl.empty() || parent.dacl_present) sd.control = SE_DACL_AUTO_INHERITED;
    if (sd.dacl.empty()) {
        if (!parent.dacl_present || parent.dacl_null) {
            sd.dacl_null = parent.dacl_null || !parent.dacl_present;
            return sd;
        }
        // Nothing to inherit: the token's default DACL, its owner and SYSTEM.
        sd.control = 0;
        sd.dacl = {Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, creator.owner},
                   Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, sids::local_system()}};
    }
    return sd;
}

void reinherit(SecurityDescriptor& sd, const SecurityDescriptor& parent, bool container) {
    if (!sd.dacl_present || sd.dacl_null || sd.is_protected()) return;
    std::vector<Ace> dacl;
    for (const auto& a : sd.dacl)
        if (!(a.flags & INHERITED_ACE)) dacl.push_back(a);
    const SidValue owner = sd.owner.value_or(sids::local_system());
    const SidValue group = sd.group.value_or(sids::local_system());
    for (auto& a : inherited_aces(parent, container, owner, group)) dacl.push_back(a);
    sd.dacl = std::move(dacl);
    sd.control |= SE_DACL_AUTO_INHERITED;
}

ACCESS_MASK granted_access(const SecurityDescriptor& sd, const Identity& who) {
    if (!sd.dacl_present || sd.dacl_null) return FILE_ALL_ACCESS;
    ACCESS_MASK granted = 0, denied = 0;
    if (sd.owner && who.holds(*sd.owner)) granted |= READ_CONTROL | WRITE_DAC;
    for (const auto& a : sd.dacl) {
        if (a.flags & INHERIT_ONLY_ACE) continue;
        const ACCESS_MASK mask = map_generic_file_rights(a.mask) & FILE_ALL_ACCESS;
        if (a.type == ACCESS_ALLOWED_ACE_TYPE && who.holds(a.sid))
            granted |= mask & ~denied;
        else if (a.type == ACCESS_DENIED_ACE_TYPE && who.denied_as(a.sid))
            denied |= mask & ~granted;
    }
    return granted;
}

}  // namespace winsim
