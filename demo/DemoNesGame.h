#pragma once

// A small playable FC game of the demo catalogue, written here as 6502 machine code: a 16 by 16
// block that the pad's cross moves over a coloured screen; A and B step the screen's colour
// forwards and backwards, Start puts the block back in the middle. It is an iNES image (mapper 0,
// 16 KiB of program, 8 KiB of tiles) that any FC emulator runs.
//
// The program runs from the vertical blank interrupt: each frame it copies the sprite table,
// writes the background colour, reads pad 1 and moves the block.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace demo_nes {

// Enough of an assembler for the program below: bytes at an origin, labels, and fix-ups for
// absolute addresses and relative branches that name a label.
class Assembler {
public:
    explicit Assembler(std::uint16_t origin) : m_origin(origin) {}

    std::uint16_t Here() const { return static_cast<std::uint16_t>(m_origin + m_code.size()); }
    void Label(const std::string& name)
    {
        if (!m_labels.emplace(name, Here()).second)
            throw std::logic_error("label twice: " + name);
    }
    void Op(std::uint8_t opcode) { m_code.push_back(opcode); }
    void Imm(std::uint8_t opcode, std::uint8_t value) { m_code.insert(m_code.end(), {opcode, value}); }
    void Zp(std::uint8_t opcode, std::uint8_t address) { Imm(opcode, address); }
    void Abs(std::uint8_t opcode, std::uint16_t address)
    {
        m_code.insert(m_code.end(), {opcode, static_cast<std::uint8_t>(address & 0xFF),
                                     static_cast<std::uint8_t>(address >> 8)});
    }
    void AbsLabel(std::uint8_t opcode, const std::string& label)
    {
        m_code.push_back(opcode);
        m_fixups.push_back({m_code.size(), label, false});
        m_code.insert(m_code.end(), {0, 0});
    }
    void Branch(std::uint8_t opcode, const std::string& label)
    {
        m_code.push_back(opcode);
        m_fixups.push_back({m_code.size(), label, true});
        m_code.push_back(0);
    }
    void Bytes(const std::vector<std::uint8_t>& bytes) { m_code.insert(m_code.end(), bytes.begin(), bytes.end()); }

    std::uint16_t Address(const std::string& label) const
    {
        auto it = m_labels.find(label);
        if (it == m_labels.end())
            throw std::logic_error("no label " + label);
        return it->second;
    }

    // The code with every label filled in.
    std::vector<std::uint8_t> Link() const
    {
        std::vector<std::uint8_t> code = m_code;
        for (const Fixup& fixup : m_fixups) {
            const std::uint16_t target = Address(fixup.label);
            if (fixup.relative) {
                const int from = m_origin + static_cast<int>(fixup.offset) + 1;
                const int distance = target - from;
                if (distance < -128 || distance > 127)
                    throw std::logic_error("branch out of reach: " + fixup.label);
                code[fixup.offset] = static_cast<std::uint8_t>(distance & 0xFF);
            } else {
                code[fixup.offset] = static_cast<std::uint8_t>(target & 0xFF);
                code[fixup.offset + 1] = static_cast<std::uint8_t>(target >> 8);
            }
        }
        return code;
    }

private:
    struct Fixup {
        std::size_t offset;
        std::string label;
        bool relative;
    };
    std::uint16_t m_origin;
    std::vector<std::uint8_t> m_code;
    std::map<std::string, std::uint16_t> m_labels;
    std::vector<Fixup> m_fixups;
};

// 6502 opcodes the program uses.
enum : std::uint8_t {
    ADC_IMM = 0x69, AND_IMM = 0x29, BCC = 0x90, BEQ = 0xF0, BIT_ABS = 0x2C, BNE = 0xD0, BPL = 0x10,
    CLC = 0x18, CLD = 0xD8, CMP_IMM = 0xC9, CPX_IMM = 0xE0, DEC_ZP = 0xC6, DEX = 0xCA, DEY = 0x88,
    EOR_ZP = 0x45, INC_ZP = 0xE6, INX = 0xE8, JMP_ABS = 0x4C, LDA_ABS = 0xAD, LDA_ABSX = 0xBD,
    LDA_IMM = 0xA9, LDA_ZP = 0xA5, LDX_IMM = 0xA2, LDX_ZP = 0xA6, LDY_IMM = 0xA0, LSR_A = 0x4A,
    PHA = 0x48, PLA = 0x68, ROL_ZP = 0x26, RTI = 0x40, SEI = 0x78, STA_ABS = 0x8D, STA_ABSX = 0x9D,
    STA_ZP = 0x85, STA_ZPX = 0x95, STX_ABS = 0x8E, TAX = 0xAA, TAY = 0xA8, TXA = 0x8A, TXS = 0x9A,
    TYA = 0x98, AND_ZP = 0x25,
};

// Zero-page variables.
enum : std::uint8_t {
    kPosX = 0x10,    // the block's left edge
    kPosY = 0x11,    // the block's top edge
    kColour = 0x12,  // the background colour (a palette entry)
    kPad = 0x13,     // buttons held: A B Select Start Up Down Left Right, bit 7 to bit 0
    kPadLast = 0x14, // the buttons held in the frame before
    kPressed = 0x15, // buttons pressed in this frame
    kColourIndex = 0x16,
};

// The background colours A and B step through.
inline const std::vector<std::uint8_t> kColours = {0x21, 0x2A, 0x27, 0x24, 0x31, 0x16,
                                                   0x1A, 0x12, 0x28, 0x2C, 0x05, 0x00};

// The 6502 program for $C000 (mirrored at $8000), with its vectors in the last six bytes.
inline std::vector<std::uint8_t> Program()
{
    Assembler a(0xC000);

    a.Label("reset");
    a.Op(SEI);
    a.Op(CLD);
    a.Imm(LDX_IMM, 0x40);
    a.Abs(STX_ABS, 0x4017); // no frame interrupt
    a.Imm(LDX_IMM, 0xFF);
    a.Op(TXS);
    a.Op(INX);              // X = 0
    a.Abs(STX_ABS, 0x2000); // no NMI yet
    a.Abs(STX_ABS, 0x2001); // no rendering yet
    a.Abs(STX_ABS, 0x4010); // no DMC interrupt
    a.Label("vblank1");
    a.Abs(BIT_ABS, 0x2002);
    a.Branch(BPL, "vblank1");
    // Work RAM cleared; the sprite table at $0200 filled with $FF (every sprite off screen).
    a.Op(TXA);
    a.Label("clear");
    a.Zp(STA_ZPX, 0x00);
    for (std::uint16_t page : {0x0100, 0x0300, 0x0400, 0x0500, 0x0600, 0x0700})
        a.Abs(STA_ABSX, page);
    a.Op(INX);
    a.Branch(BNE, "clear");
    a.Imm(LDA_IMM, 0xFF);
    a.Label("clearoam");
    a.Abs(STA_ABSX, 0x0200);
    a.Op(INX);
    a.Branch(BNE, "clearoam");
    a.Label("vblank2");
    a.Abs(BIT_ABS, 0x2002);
    a.Branch(BPL, "vblank2");

    a.Imm(LDA_IMM, 0x78);
    a.Zp(STA_ZP, kPosX);
    a.Imm(LDA_IMM, 0x70);
    a.Zp(STA_ZP, kPosY);
    a.Imm(LDA_IMM, kColours[0]);
    a.Zp(STA_ZP, kColour);

    // The palettes.
    a.Abs(LDA_ABS, 0x2002);
    a.Imm(LDA_IMM, 0x3F);
    a.Abs(STA_ABS, 0x2006);
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x2006);
    a.Imm(LDX_IMM, 0);
    a.Label("palette");
    a.AbsLabel(LDA_ABSX, "palettes");
    a.Abs(STA_ABS, 0x2007);
    a.Op(INX);
    a.Imm(CPX_IMM, 32);
    a.Branch(BNE, "palette");
    // The first name table and its attributes: tile 0 (empty) everywhere.
    a.Imm(LDA_IMM, 0x20);
    a.Abs(STA_ABS, 0x2006);
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x2006);
    a.Imm(LDY_IMM, 4);
    a.Imm(LDX_IMM, 0);
    a.Label("nametable");
    a.Abs(STA_ABS, 0x2007);
    a.Op(INX);
    a.Branch(BNE, "nametable");
    a.Op(DEY);
    a.Branch(BNE, "nametable");
    a.Abs(STA_ABS, 0x2005); // scroll 0, 0 (A is 0)
    a.Abs(STA_ABS, 0x2005);
    a.Imm(LDA_IMM, 0x80);
    a.Abs(STA_ABS, 0x2000); // NMI on, tiles from pattern table 0
    a.Imm(LDA_IMM, 0x1E);
    a.Abs(STA_ABS, 0x2001); // background and sprites, left column too
    a.Label("forever");
    a.AbsLabel(JMP_ABS, "forever");

    a.Label("nmi");
    a.Op(PHA);
    a.Op(TXA);
    a.Op(PHA);
    a.Op(TYA);
    a.Op(PHA);
    // Sprite table by DMA from $0200.
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x2003);
    a.Imm(LDA_IMM, 0x02);
    a.Abs(STA_ABS, 0x4014);
    // Background colour.
    a.Abs(LDA_ABS, 0x2002);
    a.Imm(LDA_IMM, 0x3F);
    a.Abs(STA_ABS, 0x2006);
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x2006);
    a.Zp(LDA_ZP, kColour);
    a.Abs(STA_ABS, 0x2007);
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x2005);
    a.Abs(STA_ABS, 0x2005);
    a.Imm(LDA_IMM, 0x80);
    a.Abs(STA_ABS, 0x2000);
    // Pad 1: strobe, then eight buttons, A first.
    a.Imm(LDA_IMM, 0x01);
    a.Abs(STA_ABS, 0x4016);
    a.Imm(LDA_IMM, 0x00);
    a.Abs(STA_ABS, 0x4016);
    a.Imm(LDX_IMM, 8);
    a.Label("readpad");
    a.Abs(LDA_ABS, 0x4016);
    a.Op(LSR_A);
    a.Zp(ROL_ZP, kPad);
    a.Op(DEX);
    a.Branch(BNE, "readpad");
    // Buttons pressed since the last frame.
    a.Zp(LDA_ZP, kPad);
    a.Zp(EOR_ZP, kPadLast);
    a.Zp(AND_ZP, kPad);
    a.Zp(STA_ZP, kPressed);
    a.Zp(LDA_ZP, kPad);
    a.Zp(STA_ZP, kPadLast);
    // The cross moves the block a pixel a frame.
    const struct {
        std::uint8_t bit;
        std::uint8_t op;
        std::uint8_t variable;
        const char* skip;
    } moves[] = {{0x08, DEC_ZP, kPosY, "noup"},
                 {0x04, INC_ZP, kPosY, "nodown"},
                 {0x02, DEC_ZP, kPosX, "noleft"},
                 {0x01, INC_ZP, kPosX, "noright"}};
    for (const auto& move : moves) {
        a.Zp(LDA_ZP, kPad);
        a.Imm(AND_IMM, move.bit);
        a.Branch(BEQ, move.skip);
        a.Zp(move.op, move.variable);
        a.Label(move.skip);
    }
    // A: the next colour; B: the one before.
    a.Zp(LDA_ZP, kPressed);
    a.Imm(AND_IMM, 0x80);
    a.Branch(BEQ, "noa");
    a.Zp(INC_ZP, kColourIndex);
    a.Zp(LDA_ZP, kColourIndex);
    a.Imm(CMP_IMM, static_cast<std::uint8_t>(kColours.size()));
    a.Branch(BCC, "noa");
    a.Imm(LDA_IMM, 0);
    a.Zp(STA_ZP, kColourIndex);
    a.Label("noa");
    a.Zp(LDA_ZP, kPressed);
    a.Imm(AND_IMM, 0x40);
    a.Branch(BEQ, "nob");
    a.Zp(DEC_ZP, kColourIndex);
    a.Branch(BPL, "nob");
    a.Imm(LDA_IMM, static_cast<std::uint8_t>(kColours.size() - 1));
    a.Zp(STA_ZP, kColourIndex);
    a.Label("nob");
    a.Zp(LDX_ZP, kColourIndex);
    a.AbsLabel(LDA_ABSX, "colours");
    a.Zp(STA_ZP, kColour);
    // Start: back to the middle.
    a.Zp(LDA_ZP, kPressed);
    a.Imm(AND_IMM, 0x10);
    a.Branch(BEQ, "nostart");
    a.Imm(LDA_IMM, 0x78);
    a.Zp(STA_ZP, kPosX);
    a.Imm(LDA_IMM, 0x70);
    a.Zp(STA_ZP, kPosY);
    a.Label("nostart");
    // The block: four sprites of tile 1, palette 0, in a 2 by 2 square.
    a.Zp(LDA_ZP, kPosY);
    a.Abs(STA_ABS, 0x0200);
    a.Abs(STA_ABS, 0x0204);
    a.Op(CLC);
    a.Imm(ADC_IMM, 8);
    a.Abs(STA_ABS, 0x0208);
    a.Abs(STA_ABS, 0x020C);
    a.Imm(LDA_IMM, 0x01);
    for (std::uint16_t entry : {0x0201, 0x0205, 0x0209, 0x020D})
        a.Abs(STA_ABS, entry);
    a.Imm(LDA_IMM, 0x00);
    for (std::uint16_t entry : {0x0202, 0x0206, 0x020A, 0x020E})
        a.Abs(STA_ABS, entry);
    a.Zp(LDA_ZP, kPosX);
    a.Abs(STA_ABS, 0x0203);
    a.Abs(STA_ABS, 0x020B);
    a.Op(CLC);
    a.Imm(ADC_IMM, 8);
    a.Abs(STA_ABS, 0x0207);
    a.Abs(STA_ABS, 0x020F);
    a.Op(PLA);
    a.Op(TAY);
    a.Op(PLA);
    a.Op(TAX);
    a.Op(PLA);
    a.Op(RTI);

    a.Label("irq");
    a.Op(RTI);

    a.Label("palettes");
    a.Bytes({0x21, 0x0F, 0x10, 0x30, 0x21, 0x0F, 0x10, 0x30, 0x21, 0x0F, 0x10, 0x30, 0x21, 0x0F, 0x10, 0x30,
             0x21, 0x16, 0x27, 0x30, 0x21, 0x16, 0x27, 0x30, 0x21, 0x16, 0x27, 0x30, 0x21, 0x16, 0x27, 0x30});
    a.Label("colours");
    a.Bytes(kColours);

    std::vector<std::uint8_t> code = a.Link();
    constexpr std::size_t kPrgSize = 16384;
    if (code.size() > kPrgSize - 6)
        throw std::logic_error("the program does not fit");
    code.resize(kPrgSize - 6, 0xFF);
    for (const char* vector : {"nmi", "reset", "irq"}) {
        const std::uint16_t address = a.Address(vector);
        code.push_back(static_cast<std::uint8_t>(address & 0xFF));
        code.push_back(static_cast<std::uint8_t>(address >> 8));
    }
    return code;
}

// The tiles: tile 0 empty; tile 1 a block of colour 1 with a border of colour 3.
inline std::vector<std::uint8_t> Tiles()
{
    std::vector<std::uint8_t> chr(8192, 0);
    const std::size_t tile = 16;
    for (int row = 0; row < 8; ++row) {
        chr[tile + row] = 0xFF;                                          // plane 0: colour 1 or 3
        chr[tile + 8 + row] = (row == 0 || row == 7) ? 0xFF : 0x81;      // plane 1: the border
    }
    return chr;
}

// The whole iNES image.
inline std::string Image()
{
    std::string image = {'N', 'E', 'S', '\x1A', 1, 1, 0, 0};
    image.resize(16, '\0');
    for (std::uint8_t byte : Program())
        image += static_cast<char>(byte);
    for (std::uint8_t byte : Tiles())
        image += static_cast<char>(byte);
    return image;
}

} // namespace demo_nes
