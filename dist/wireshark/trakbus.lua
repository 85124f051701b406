-- Trakbus dissector for Wireshark.
--
-- One packet is one frame of the bus: a message (opcode, data, checksum), a message cut short
-- or bytes without an opcode, as kelvmon's "Export as pcap...", trakbus-cap2pcap and the live
-- capture trakbus-extcap write them under the link type USER0 (147). The info column reads as
-- kelvmon's tooltip of the line does.
--
-- Install: copy to Wireshark's plugin folder, for one user ~/.local/lib/wireshark/plugins/.

local trakbus = Proto("trakbus", "Trakbus")

local band = bit32 and bit32.band or bit.band
local bor = bit32 and bit32.bor or bit.bor
local bxor = bit32 and bit32.bxor or bit.bxor
local lshift = bit32 and bit32.lshift or bit.lshift

local checksum_states = { [0] = "Bad", [1] = "Good", [2] = "Unverified", [3] = "Not present" }
local ipl_kinds = { [0x00] = "IPL setup", [0x10] = "IPL address", [0x20] = "IPL data",
                    [0x40] = "IPL end" }

local f = trakbus.fields
f.opcode = ProtoField.uint8("trakbus.opcode", "Opcode", base.HEX)
f.length = ProtoField.uint8("trakbus.length", "Length", base.DEC)
f.data = ProtoField.bytes("trakbus.data", "Data", base.SPACE)
f.checksum = ProtoField.uint8("trakbus.checksum", "Checksum", base.HEX)
f.checksum_status = ProtoField.uint8("trakbus.checksum.status", "Checksum status", base.DEC,
                                     checksum_states)
f.ipl_kind = ProtoField.uint8("trakbus.ipl.kind", "IPL kind", base.HEX, ipl_kinds)
f.ipl_payload = ProtoField.bytes("trakbus.ipl.payload", "IPL payload", base.SPACE)
f.ipl_address = ProtoField.uint24("trakbus.ipl.address", "Address", base.HEX)
f.ipl_manufacturer = ProtoField.uint8("trakbus.ipl.manufacturer", "Manufacturer", base.DEC)
f.ipl_product = ProtoField.uint8("trakbus.ipl.product", "Product", base.DEC)
f.ipl_hardware = ProtoField.uint8("trakbus.ipl.hardware", "Hardware version", base.HEX)
f.ipl_software = ProtoField.uint8("trakbus.ipl.software", "Software version", base.HEX)
f.ipl_options = ProtoField.uint8("trakbus.ipl.options", "Options", base.HEX)
f.ipl_erase_blocks = ProtoField.uint8("trakbus.ipl.erase_blocks", "Erase block count", base.DEC)
f.device_group = ProtoField.uint8("trakbus.device.group", "Group", base.HEX)
f.device_code = ProtoField.uint8("trakbus.device.code", "Code", base.HEX)
f.device_payload = ProtoField.bytes("trakbus.device.payload", "Device payload", base.SPACE)
f.device_product = ProtoField.uint8("trakbus.device.product", "Product", base.DEC)
f.device_product2 = ProtoField.uint8("trakbus.device.product2", "Second product", base.DEC)
f.device_serial = ProtoField.uint24("trakbus.device.serial", "Serial number", base.DEC)
f.device_serial2 = ProtoField.uint32("trakbus.device.serial2", "Second serial number", base.DEC)
f.device_software = ProtoField.string("trakbus.device.software", "Software version")
f.device_hardware = ProtoField.string("trakbus.device.hardware", "Hardware version")
f.device_bootloader = ProtoField.string("trakbus.device.bootloader", "Boot loader version")
f.ping_local = ProtoField.uint8("trakbus.ping.local", "Local signal strength", base.DEC)
f.ping_remote = ProtoField.uint8("trakbus.ping.remote", "Remote signal strength", base.DEC)

local e_bad_checksum = ProtoExpert.new("trakbus.checksum.bad.expert", "Bad checksum",
                                       expert.group.CHECKSUM, expert.severity.ERROR)
local e_cut_short = ProtoExpert.new("trakbus.cut_short", "Message cut short",
                                    expert.group.MALFORMED, expert.severity.ERROR)
local e_no_opcode = ProtoExpert.new("trakbus.no_opcode", "Bytes without an opcode",
                                    expert.group.MALFORMED, expert.severity.WARN)
trakbus.experts = { e_bad_checksum, e_cut_short, e_no_opcode }

local function hex_bytes(values, first, last)
    local parts = {}
    for i = first, last do
        parts[#parts + 1] = string.format("%02X", values[i])
    end
    return table.concat(parts, " ")
end

local function version_text(value)
    return string.format("%d.%d", math.floor(value / 8), band(value, 7))
end

local function serial_text(value)
    return string.format("%u (0x%X)", value, value)
end

-- The four bytes of a packed group, their bit 7s put back from the flags byte before them.
local function unpack_group(bytes, flags_at, out)
    local flags = bytes[flags_at]
    for k = 0, 3 do
        local value = bytes[flags_at + 1 + k]
        if band(flags, lshift(1, k)) ~= 0 then
            value = bor(value, 0x80)
        end
        out[#out + 1] = value
    end
end

-- The payload with its bit 7s put back, as a data source of its own beside the frame.
local function payload_tvb(values, name)
    return ByteArray.new(hex_bytes(values, 1, #values)):tvb(name)
end

local function dissect_ipl(tvb, tree, bytes, lines)
    local d = {}
    unpack_group(bytes, 6, d)
    unpack_group(bytes, 11, d)
    local kind = band(bytes[11], 0x70)
    local sub = tree:add(tvb(2, 13), "IPL message")
    sub:add(f.ipl_kind, tvb(10, 1), kind)
    sub:add(f.ipl_payload, payload_tvb(d, "IPL payload")())
    if kind == 0x00 then
        sub:add(f.ipl_manufacturer, tvb(5, 5), d[1])
        sub:add(f.ipl_product, tvb(5, 5), d[2])
        sub:add(f.ipl_hardware, tvb(5, 5), d[3])
        sub:add(f.ipl_software, tvb(5, 5), d[4])
        sub:add(f.ipl_options, tvb(10, 5), d[5])
        sub:add(f.ipl_erase_blocks, tvb(10, 5), d[7])
    elseif kind == 0x10 then
        sub:add(f.ipl_address, tvb(5, 5), d[1] * 65536 + d[2] * 256 + d[3])
    end
    local name = ipl_kinds[kind]
    lines[#lines + 1] = name and (name .. " message")
                             or string.format("IPL message of kind %02X", kind)
    lines[#lines + 1] = "Payload " .. hex_bytes(d, 1, 8)
end

local function dissect_device(tvb, tree, bytes, lines)
    local group, code = bytes[3], bytes[4]
    local d = {}
    for g = 0, 2 do
        unpack_group(bytes, 5 + 5 * g, d)
    end
    local sub = tree:add(tvb(2, 17), "Device message")
    sub:add(f.device_group, tvb(2, 1))
    sub:add(f.device_code, tvb(3, 1))
    sub:add(f.device_payload, payload_tvb(d, "Device payload")())
    lines[#lines + 1] = string.format("Device message: group %02X, code %02X", group, code)
    local payload = tvb(4, 15)
    if group == 0x0F and code == 0x10 then
        local serial = d[6] + d[7] * 256 + d[8] * 65536
        local serial2 = d[9] + d[10] * 256 + d[11] * 65536 + d[12] * 16777216
        sub:add(f.device_product, payload, d[1])
        sub:add(f.device_product2, payload, d[2])
        sub:add(f.device_serial, payload, serial)
        sub:add(f.device_serial2, payload, serial2)
        sub:add(f.device_software, payload, version_text(d[4]))
        sub:add(f.device_hardware, payload, version_text(d[3]))
        sub:add(f.device_bootloader, payload, version_text(d[5]))
        lines[#lines + 1] = string.format("Device reply: product %u, second product %u", d[1], d[2])
        lines[#lines + 1] = "Serial number " .. serial_text(serial) .. ", second serial number "
                            .. serial_text(serial2)
        lines[#lines + 1] = "Software " .. version_text(d[4]) .. ", hardware "
                            .. version_text(d[3]) .. ", boot loader " .. version_text(d[5])
    elseif group == 0x0F and code == 0x08 and d[3] == 1 then
        local serial = d[6] + d[7] * 256 + d[8] * 65536
        sub:add(f.device_product, payload, d[1])
        sub:add(f.device_serial, payload, serial)
        lines[#lines + 1] = string.format("Identify request: product %u, serial number ", d[1])
                            .. serial_text(serial)
    elseif group == 0x0F and code == 0x08 then
        sub:add(f.device_product, payload, d[1])
        lines[#lines + 1] = d[1] == 0 and "Discover request: all products"
                            or string.format("Discover request: product %u", d[1])
    elseif group == 0x08 then
        sub:add(f.ping_local, payload, d[7])
        sub:add(f.ping_remote, payload, d[8])
        lines[#lines + 1] = string.format("Ping reply: signal strength local %u, remote %u",
                                          d[7], d[8])
    end
    lines[#lines + 1] = "Payload " .. hex_bytes(d, 1, 12)
end

function trakbus.dissector(tvb, pinfo, tree)
    local n = tvb:len()
    if n == 0 then
        return 0
    end
    pinfo.cols.protocol = "Trakbus"
    local root = tree:add(trakbus, tvb(), "Trakbus")
    local bytes = {} -- 1-based: bytes[1] is the opcode
    local xor = 0
    for i = 0, n - 1 do
        bytes[i + 1] = tvb(i, 1):uint()
        xor = bxor(xor, bytes[i + 1])
    end
    local opcode = bytes[1]
    if opcode < 0x80 then
        root:add(f.data, tvb())
        root:add(f.checksum_status, tvb(0, 0), 3):set_generated()
        root:add_proto_expert_info(e_no_opcode)
        pinfo.cols.info = string.format("%d bytes without an opcode", n)
        return n
    end
    root:add(f.opcode, tvb(0, 1))
    local lines = {}
    local class = band(opcode, 0xE0)
    local expected
    if class == 0xE0 then
        if n >= 2 then
            root:add(f.length, tvb(1, 1))
            -- The receive assembler takes at least four bytes of a message of this class.
            expected = math.max(bytes[2], 4)
        end
        lines[1] = string.format("Opcode %02X: variable length, %d bytes", opcode, n)
    else
        expected = ({ [0x80] = 2, [0xA0] = 4, [0xC0] = 6 })[class]
        root:add(f.length, tvb(0, 1), expected):set_generated()
        lines[1] = string.format("Opcode %02X: fixed length, %d bytes", opcode, expected)
    end

    if expected == nil or n < expected then
        if n > 1 then
            root:add(f.data, tvb(1, n - 1))
        end
        root:add(f.checksum_status, tvb(0, 0), 3):set_generated()
        root:add_proto_expert_info(e_cut_short)
        lines[#lines + 1] = string.format("Cut short: %d of %s bytes", n,
                                          expected and tostring(expected) or "?")
        pinfo.cols.info = table.concat(lines, "; ")
        return n
    end

    local data_from = class == 0xE0 and 2 or 1
    if n - 1 > data_from then
        root:add(f.data, tvb(data_from, n - 1 - data_from))
    end
    root:add(f.checksum, tvb(n - 1, 1))
    local good = xor == 0xFF
    local status = root:add(f.checksum_status, tvb(n - 1, 1), good and 1 or 0)
    status:set_generated()
    if not good then
        status:add_proto_expert_info(e_bad_checksum)
    end

    if n == 16 and opcode == 0xE5 and bytes[2] == 0x10 and bytes[3] == 0x7F
       and bytes[4] == 0x7F and bytes[5] == 0x7F and band(bytes[6], 0x70) == 0x40 then
        dissect_ipl(tvb, root, bytes, lines)
    elseif n == 20 and opcode == 0xE5 and bytes[2] == 0x14 then
        dissect_device(tvb, root, bytes, lines)
    end
    if not good then
        lines[#lines + 1] = "Bad checksum"
    end
    pinfo.cols.info = table.concat(lines, "; ")
    return n
end

DissectorTable.get("wtap_encap"):add(wtap_encaps and wtap_encaps.USER0 or 45, trakbus)
