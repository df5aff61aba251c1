// Security descriptors as values: owner, group, DACL and its control bits;
// their binary forms (SID, ACL, ACE, self-relative and absolute
// descriptors, laid out as Windows lays them out), their SDDL text, ACE
// inheritance at creation, and the access check.
//
// Only what files need is modelled: access-allowed and access-denied ACEs
// (no object ACEs, callbacks, conditions or mandatory labels), no SACL, and
// the generic mapping of files.
#pragma once

#include "platform/win32.h"
#include "platform/winsim/security.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct Ace {
    BYTE type = ACCESS_ALLOWED_ACE_TYPE;  // or ACCESS_DENIED_ACE_TYPE
    BYTE flags = 0;                       // OBJECT_INHERIT_ACE, ..., INHERITED_ACE
    ACCESS_MASK mask = 0;
    SidValue sid;

    bool operator==(const Ace& o) const {
        return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
    }
};

struct SecurityDescriptor {
    std::optional<SidValue> owner;
    std::optional<SidValue> group;
    // SE_DACL_PROTECTED, SE_DACL_AUTO_INHERITED, SE_DACL_AUTO_INHERIT_REQ;
    // SE_DACL_PRESENT and SE_SELF_RELATIVE follow from the fields and the form.
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    bool dacl_present = false;
    bool dacl_null = false;  // present but null: everyone may do anything
    std::vector<Ace> dacl;

    bool is_protected() const { return (control & SE_DACL_PROTECTED) != 0; }
    bool operator==(const SecurityDescriptor& o) const {
        return owner == o.owner && group == o.group && control == o.control
               && dacl_present == o.dacl_present && dacl_null == o.dacl_null && dacl == o.dacl;
    }
};

// The generic rights of files mapped to their specific rights
// (GENERIC_READ to FILE_GENERIC_READ, ...); other bits unchanged.
ACCESS_MASK map_generic_file_rights(ACCESS_MASK mask);

// ---- binary forms
std::vector<BYTE> sid_bytes(const SidValue& sid);
// A SID in caller memory; null when it is no valid SID (revision 1, at most
// 15 sub-authorities).
std::optional<SidValue> sid_at(const void* p);
std::vector<BYTE> acl_bytes(const std::vector<Ace>& aces);
// The ACEs of an ACL in caller memory; false when it is malformed.
bool aces_at(const void* acl, std::vector<Ace>& out);
// A self-relative descriptor: header, DACL, owner, group.
std::vector<BYTE> self_relative_bytes(const SecurityDescriptor& sd);
// A descriptor in caller memory, self-relative or absolute; null when it is
// malformed (revision other than 1, a bad SID or ACL).
std::optional<SecurityDescriptor> descriptor_at(const void* p);

// ---- SDDL
// The supported subset: O:, G:, D: with the flags P, AI and AR or
// NO_ACCESS_CONTROL; ACE types A and D; flags OI CI NP IO ID; rights FA FR
// FW FX, GA GR GW GX, RC SD WD WO, the two-letter object rights CC DC LC SW
// RP WP DT LO CR and 0x hexadecimal; SIDs SY BA BU AU WD CO CG IU and
// literal S-1-... . 0 and |error| ERROR_INVALID_PARAMETER (syntax) or
// ERROR_NONE_MAPPED (an alias the model does not know).
std::optional<SecurityDescriptor> descriptor_from_sddl(const std::string& text, DWORD& error);
// As Windows writes it: exact file aliases (FA, FR, FW, FX), else the
// two-letter rights when they cover the mask, else 0x hexadecimal.
std::string sddl_of(const SecurityDescriptor& sd,
                    SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION
                                                 | GROUP_SECURITY_INFORMATION
                                                 | DACL_SECURITY_INFORMATION);

// ---- inheritance and access
// The DACL a new object gets from its parent's, by the ACE inheritance
// rules: effective ACEs with CREATOR OWNER and CREATOR GROUP replaced and
// generic rights mapped, inherit-only copies where the ACE must travel on,
// each marked INHERITED_ACE.
std::vector<Ace> inherited_aces(const SecurityDescriptor& parent, bool container,
                                const SidValue& owner, const SidValue& group);
// The descriptor of a new object (MS-DTYP 2.5.3.4.1 CreateSecurityDescriptor,
// with DACL_AUTO_INHERIT as NTFS asks it): the creator's owner and group or
// the token's defaults; the creator's DACL, followed by the parent's
// inheritable ACEs unless that DACL is protected; without a creator DACL
// the inherited ACEs alone.
SecurityDescriptor new_object_descriptor(const SecurityDescriptor& parent, bool container,
                                         const Identity& creator,
                                         const SecurityDescriptor* explicit_sd);
// Replaces the inherited ACEs of |sd| (those marked INHERITED_ACE) by the
// parent's, unless |sd| is protected: SetSecurityInfo's propagation.
void reinherit(SecurityDescriptor& sd, const SecurityDescriptor& parent, bool container);

// Everything |who| is granted by |sd| (MS-DTYP 2.5.3.2 AccessCheck, as for
// MAXIMUM_ALLOWED): the owner's implicit READ_CONTROL and WRITE_DAC, then
// each ACE in order, an allow granting what no earlier deny denied, a deny
// denying what no earlier allow granted; generic rights in ACEs mapped.
// Inherit-only ACEs do not count; deny-only groups match deny ACEs only. A
// request succeeds when its mapped rights are all in the result.
ACCESS_MASK granted_access(const SecurityDescriptor& sd, const Identity& who);

}  // namespace winsim
