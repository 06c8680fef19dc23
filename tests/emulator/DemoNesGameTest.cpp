// The demo's FC game, run on a small 6502 interpreter of the test's own (the instructions the game
// uses, the pad port, sprite DMA and the PPU's address port): it starts, draws its block, and the
// block and the background colour follow the pad frame by frame.

#include "demo/DemoNesGame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace {

using namespace demo_nes;

class Console {
public:
    explicit Console(const std::string& image)
    {
        if (image.size() != 16 + 16384 + 8192)
            throw std::runtime_error("unexpected image size");
        for (std::size_t i = 0; i < 16384; ++i)
            m_prg[i] = static_cast<std::uint8_t>(image[16 + i]);
        m_pc = Read16(0xFFFC);
    }

    // Runs from reset until the program settles into its idle loop.
    bool Boot()
    {
        for (int i = 0; i < 200000; ++i) {
            const std::uint16_t before = m_pc;
            Step();
            if (m_pc == before)
                return true; // a jump to itself: the idle loop
        }
        return false;
    }

    // One frame: the vertical blank interrupt with the given buttons held (A B Select Start Up
    // Down Left Right, bit 7 to bit 0), run until it returns.
    void Frame(std::uint8_t buttons)
    {
        m_buttons = buttons;
        Push(static_cast<std::uint8_t>(m_pc >> 8));
        Push(static_cast<std::uint8_t>(m_pc & 0xFF));
        Push(Flags());
        m_pc = Read16(0xFFFA);
        for (int i = 0; i < 10000 && !m_returned; ++i)
            Step();
        if (!m_returned)
            throw std::runtime_error("the frame did not end");
        m_returned = false;
    }

    std::uint8_t Oam(int index) const { return m_oam[index]; }
    std::uint8_t Vram(std::uint16_t address) const { return m_vram[address & 0x3FFF]; }
    std::uint8_t PpuCtrl() const { return m_ppuCtrl; }
    std::uint8_t PpuMask() const { return m_ppuMask; }

private:
    std::uint8_t Read(std::uint16_t address)
    {
        if (address < 0x2000)
            return m_ram[address & 0x7FF];
        if (address >= 0x8000)
            return m_prg[address & 0x3FFF];
        if (address == 0x2002) {
            m_latch = false;
            return 0x80; // always in the vertical blank: the start-up waits pass
        }
        if (address == 0x4016) {
            const std::uint8_t bit = m_shift & 1;
            m_shift = static_cast<std::uint8_t>((m_shift >> 1) | 0x80);
            return bit;
        }
        return 0;
    }
    void Write(std::uint16_t address, std::uint8_t value)
    {
        if (address < 0x2000) {
            m_ram[address & 0x7FF] = value;
        } else if (address == 0x2000) {
            m_ppuCtrl = value;
        } else if (address == 0x2001) {
            m_ppuMask = value;
        } else if (address == 0x2006) {
            m_vramAddress = m_latch ? static_cast<std::uint16_t>((m_vramAddress & 0xFF00) | value)
                                    : static_cast<std::uint16_t>(value << 8);
            m_latch = !m_latch;
        } else if (address == 0x2007) {
            m_vram[m_vramAddress & 0x3FFF] = value;
            ++m_vramAddress;
        } else if (address == 0x4014) {
            for (int i = 0; i < 256; ++i)
                m_oam[i] = Read(static_cast<std::uint16_t>(value << 8 | i));
        } else if (address == 0x4016 && (value & 1) == 0) {
            // The strobe ends: the buttons are latched, A first, a bit per read. The game reads
            // them into bit 7 first, so A ends up in bit 7 as the constants say.
            std::uint8_t serial = 0;
            for (int bit = 0; bit < 8; ++bit)
                serial |= static_cast<std::uint8_t>(((m_buttons >> (7 - bit)) & 1) << bit);
            m_shift = serial;
        }
    }
    std::uint16_t Read16(std::uint16_t address) { return static_cast<std::uint16_t>(Read(address) | Read(address + 1) << 8); }
    std::uint8_t Fetch() { return Read(m_pc++); }
    std::uint16_t Fetch16()
    {
        const std::uint16_t value = Read16(m_pc);
        m_pc += 2;
        return value;
    }
    void Push(std::uint8_t value) { m_ram[0x100 + m_sp--] = value; }
    std::uint8_t Pull() { return m_ram[0x100 + ++m_sp]; }
    std::uint8_t Flags() const { return static_cast<std::uint8_t>((m_n ? 0x80 : 0) | (m_z ? 2 : 0) | (m_c ? 1 : 0) | 0x20); }
    std::uint8_t Nz(std::uint8_t value)
    {
        m_n = (value & 0x80) != 0;
        m_z = value == 0;
        return value;
    }
    void Compare(std::uint8_t reg, std::uint8_t value)
    {
        m_c = reg >= value;
        Nz(static_cast<std::uint8_t>(reg - value));
    }
    void BranchIf(bool condition)
    {
        const auto offset = static_cast<std::int8_t>(Fetch());
        if (condition)
            m_pc = static_cast<std::uint16_t>(m_pc + offset);
    }

    void Step()
    {
        const std::uint8_t op = Fetch();
        switch (op) {
        case SEI: case CLD: break;
        case CLC: m_c = false; break;
        case LDA_IMM: m_a = Nz(Fetch()); break;
        case LDA_ZP: m_a = Nz(Read(Fetch())); break;
        case LDA_ABS: m_a = Nz(Read(Fetch16())); break;
        case LDA_ABSX: m_a = Nz(Read(static_cast<std::uint16_t>(Fetch16() + m_x))); break;
        case LDX_IMM: m_x = Nz(Fetch()); break;
        case LDX_ZP: m_x = Nz(Read(Fetch())); break;
        case LDY_IMM: m_y = Nz(Fetch()); break;
        case STA_ZP: Write(Fetch(), m_a); break;
        case STA_ZPX: Write(static_cast<std::uint8_t>(Fetch() + m_x), m_a); break;
        case STA_ABS: Write(Fetch16(), m_a); break;
        case STA_ABSX: Write(static_cast<std::uint16_t>(Fetch16() + m_x), m_a); break;
        case STX_ABS: Write(Fetch16(), m_x); break;
        case TXS: m_sp = m_x; break;
        case TXA: m_a = Nz(m_x); break;
        case TAX: m_x = Nz(m_a); break;
        case TAY: m_y = Nz(m_a); break;
        case TYA: m_a = Nz(m_y); break;
        case INX: m_x = Nz(static_cast<std::uint8_t>(m_x + 1)); break;
        case DEX: m_x = Nz(static_cast<std::uint8_t>(m_x - 1)); break;
        case DEY: m_y = Nz(static_cast<std::uint8_t>(m_y - 1)); break;
        case INC_ZP: { const std::uint8_t a = Fetch(); Write(a, Nz(static_cast<std::uint8_t>(Read(a) + 1))); break; }
        case DEC_ZP: { const std::uint8_t a = Fetch(); Write(a, Nz(static_cast<std::uint8_t>(Read(a) - 1))); break; }
        case AND_IMM: m_a = Nz(m_a & Fetch()); break;
        case AND_ZP: m_a = Nz(m_a & Read(Fetch())); break;
        case EOR_ZP: m_a = Nz(m_a ^ Read(Fetch())); break;
        case ADC_IMM: {
            const unsigned sum = m_a + Fetch() + (m_c ? 1 : 0);
            m_c = sum > 0xFF;
            m_a = Nz(static_cast<std::uint8_t>(sum));
            break;
        }
        case CMP_IMM: Compare(m_a, Fetch()); break;
        case CPX_IMM: Compare(m_x, Fetch()); break;
        case BIT_ABS: { const std::uint8_t v = Read(Fetch16()); m_n = (v & 0x80) != 0; m_z = (v & m_a) == 0; break; }
        case LSR_A: m_c = (m_a & 1) != 0; m_a = Nz(m_a >> 1); break;
        case ROL_ZP: {
            const std::uint8_t a = Fetch();
            const std::uint8_t v = Read(a);
            const bool carry = (v & 0x80) != 0;
            Write(a, Nz(static_cast<std::uint8_t>(v << 1 | (m_c ? 1 : 0))));
            m_c = carry;
            break;
        }
        case BPL: BranchIf(!m_n); break;
        case BNE: BranchIf(!m_z); break;
        case BEQ: BranchIf(m_z); break;
        case BCC: BranchIf(!m_c); break;
        case JMP_ABS: m_pc = Fetch16(); break;
        case PHA: Push(m_a); break;
        case PLA: m_a = Nz(Pull()); break;
        case RTI: {
            const std::uint8_t p = Pull();
            m_n = (p & 0x80) != 0;
            m_z = (p & 2) != 0;
            m_c = (p & 1) != 0;
            m_pc = Pull();
            m_pc = static_cast<std::uint16_t>(m_pc | Pull() << 8);
            m_returned = true;
            break;
        }
        default:
            throw std::runtime_error("opcode the test's processor does not know: " + std::to_string(op));
        }
    }

    std::array<std::uint8_t, 0x800> m_ram{};
    std::array<std::uint8_t, 0x4000> m_prg{};
    std::array<std::uint8_t, 0x4000> m_vram{};
    std::array<std::uint8_t, 256> m_oam{};
    std::uint16_t m_pc = 0;
    std::uint16_t m_vramAddress = 0;
    std::uint8_t m_a = 0, m_x = 0, m_y = 0, m_sp = 0xFD;
    bool m_n = false, m_z = false, m_c = false;
    bool m_latch = false;
    bool m_returned = false;
    std::uint8_t m_ppuCtrl = 0, m_ppuMask = 0;
    std::uint8_t m_buttons = 0, m_shift = 0;
};

constexpr std::uint8_t kA = 0x80, kB = 0x40, kStart = 0x10, kUp = 0x08, kDown = 0x04, kLeft = 0x02, kRight = 0x01;

TEST(DemoNesGameTest, IsAnInesImageOfMapperZero)
{
    const std::string image = Image();
    ASSERT_EQ(image.size(), 16u + 16384 + 8192);
    EXPECT_EQ(image.substr(0, 4), std::string("NES\x1A", 4));
    EXPECT_EQ(image[4], 1); // 16 KiB of program
    EXPECT_EQ(image[5], 1); // 8 KiB of tiles
    EXPECT_EQ(image[6] & 0xF0, 0);
    EXPECT_EQ(image[7] & 0xF0, 0);
    // Tile 1, the block, has pixels; tile 0, the background, has none.
    EXPECT_EQ(image.substr(16 + 16384, 16), std::string(16, '\0'));
    EXPECT_NE(image.substr(16 + 16384 + 16, 16), std::string(16, '\0'));
}

TEST(DemoNesGameTest, StartsAndTheBlockAndColourFollowThePad)
{
    Console console(Image());
    ASSERT_TRUE(console.Boot());
    EXPECT_EQ(console.PpuCtrl() & 0x80, 0x80); // frames drive the game
    EXPECT_EQ(console.PpuMask() & 0x18, 0x18); // background and sprites on
    EXPECT_EQ(console.Vram(0x3F00), kColours[0]);
    EXPECT_EQ(console.Vram(0x3F11), 0x16); // the block's colour

    // The sprite table goes out at the start of each frame, so what a frame does shows one later.
    console.Frame(0);
    console.Frame(0);
    const int x = console.Oam(3), y = console.Oam(0);
    EXPECT_EQ(x, 0x78);
    EXPECT_EQ(y, 0x70);
    EXPECT_EQ(console.Oam(1), 1); // tile 1
    EXPECT_EQ(console.Oam(4 * 3 + 0), y + 8);
    EXPECT_EQ(console.Oam(4 * 3 + 3), x + 8);

    for (int i = 0; i < 10; ++i)
        console.Frame(kUp | kRight);
    console.Frame(0);
    EXPECT_EQ(console.Oam(0), y - 10);
    EXPECT_EQ(console.Oam(3), x + 10);
    for (int i = 0; i < 4; ++i)
        console.Frame(kDown | kLeft);
    console.Frame(0);
    EXPECT_EQ(console.Oam(0), y - 6);
    EXPECT_EQ(console.Oam(3), x + 6);

    // A held for several frames steps the colour once; B steps back, and past the first wraps.
    for (int i = 0; i < 5; ++i)
        console.Frame(kA);
    console.Frame(0);
    EXPECT_EQ(console.Vram(0x3F00), kColours[1]);
    console.Frame(kB);
    console.Frame(0);
    console.Frame(kB);
    console.Frame(0);
    EXPECT_EQ(console.Vram(0x3F00), kColours.back());
    console.Frame(kA);
    console.Frame(0);
    EXPECT_EQ(console.Vram(0x3F00), kColours[0]);

    console.Frame(kStart);
    console.Frame(0);
    EXPECT_EQ(console.Oam(0), 0x70);
    EXPECT_EQ(console.Oam(3), 0x78);
}

} // namespace
