// SPDX-License-Identifier: MIT
// The command table's rows: one per command name, each an opcode with the shape of its frame.
// Several names may send one opcode (RDSR, RDSR_WEL and RDSR_WIP all send 05h); the
// operations a user selects are these names (src/ops/operation_table.cpp).
//
// Read twice, with a ROW macro of each reader's own: into CommandId and into CommandTable.
//
// ROW(id, name, opcode, address marker, dummy bytes, frame length, reply length)
// The address marker is 1 on the rows whose command carries an address; selection
// replaces it. The frame length counts the bytes sent before the dummy bytes.
ROW(NO_COMMAND, "", 0x00, 0, 0, 0, 0)
ROW(RDID, "RDID", 0x9F, 0, 0, 1, 4)
ROW(READ_ID, "READ_ID", 0x90, 0, 3, 1, 2)
ROW(VSRWE, "VSRWE", 0x50, 0, 0, 1, 0)
ROW(WREN, "WREN", 0x06, 0, 0, 1, 0)
ROW(WRDI, "WRDI", 0x04, 0, 0, 1, 0)
ROW(RDSR, "RDSR", 0x05, 0, 0, 1, 1)
ROW(RDSR_WEL, "RDSR_WEL", 0x05, 0, 0, 1, 1)
ROW(RDSR_WIP, "RDSR_WIP", 0x05, 0, 0, 1, 1)
ROW(RDCR, "RDCR", 0x35, 0, 0, 1, 2)
ROW(BE, "BE", 0x60, 0, 0, 1, 0)
ROW(SE, "SE", 0xD8, 1, 0, 4, 0)
ROW(SE4K, "SE4K", 0x20, 1, 0, 4, 0)
ROW(SE8K, "SE8K", 0x40, 1, 0, 4, 0)
ROW(SE32K, "SE32K", 0x52, 1, 0, 4, 0)
ROW(PP, "PP", 0x02, 1, 0, 260, 0)
ROW(WRR1, "WRR1", 0x01, 0, 0, 2, 0)
ROW(WRR2, "WRR2", 0x01, 0, 0, 3, 0)
ROW(READ, "READ", 0x03, 1, 0, 4, 256)
ROW(FREAD, "FREAD", 0x0B, 1, 1, 4, 256)
ROW(VER, "VER", 0x0B, 1, 1, 4, 12)
ROW(CHKSUM, "CHKSUM", 0x0B, 1, 1, 4, 256)
ROW(DP, "DP", 0xB9, 0, 0, 1, 0)
ROW(RES, "RES", 0xAB, 0, 3, 1, 1)
ROW(WRITE, "WRITE", 0x02, 1, 0, 260, 0)
