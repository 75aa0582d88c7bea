#include <avr/io.h>
#include <avr/eeprom.h>
#include <avr/fuse.h>
#include <avr/lock.h>
#include <avr/signature.h>
#include <util/delay.h>

/* Blink PB5 in a pattern kept in RAM (so the program has initialised .data), with a greeting in
   EEPROM, the fuses, the lock bits and the part's signature, all in one ELF file. */
FUSES = {
    .low = 0xE2,
    .high = 0xD9,
    .extended = 0xFD,
};
LOCKBITS = 0xFE;
char greeting[] EEMEM = "hello from the EEPROM";
volatile unsigned char pattern[] = {1, 0, 1, 1, 0, 0, 1, 0};

int main(void)
{
    DDRB |= _BV(DDB5);
    for (unsigned char i = 0;; i = (i + 1) & 7) {
        if (pattern[i])
            PORTB |= _BV(PORTB5);
        else
            PORTB &= ~_BV(PORTB5);
        _delay_ms(250);
    }
}
