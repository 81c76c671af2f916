// PrVardo's six outputs on an Arduino relay board, through the USB serial port.
//
// PrVardo sends one byte each time the switching word changes (9600 baud, 8N1): bit n is
// output Dn. Each relay follows its bit. Most relay boards switch on a LOW input: leave
// RELAY_ON as it is; for a board that switches on HIGH, make it HIGH.
//
// The board fails safe: while its port is open PrVardo sends the word again every second, so
// three seconds without a byte mean the PC, the cable or PrVardo is gone, and every relay goes
// off until the next byte comes. The watchdog restarts the board if the sketch itself ever
// hangs, and after any restart the relays start off.

#include <avr/wdt.h>

const uint8_t RELAY_PINS[6] = {2, 3, 4, 5, 6, 7}; // D0 .. D5
const uint8_t RELAY_ON = LOW;
const uint8_t RELAY_OFF = RELAY_ON == LOW ? HIGH : LOW;
const unsigned long SILENCE_MS = 3000; // no byte for this long: all relays off

unsigned long lastByte; // millis() when the last byte came

// After a watchdog restart the watchdog stays on at its shortest time (16 ms), and would restart
// the board again and again before it is ready. It is switched off here, first thing (the .init3
// section runs before main() and the Arduino start-up code); setup() switches it on again.
void watchdogOff() __attribute__((naked, used, section(".init3")));
void watchdogOff()
{
  MCUSR = 0;
  wdt_disable();
}

void show(uint8_t word)
{
  for (uint8_t n = 0; n < 6; ++n)
    digitalWrite(RELAY_PINS[n], (word >> n) & 1 ? RELAY_ON : RELAY_OFF);
}

void setup()
{
  for (uint8_t n = 0; n < 6; ++n) {
    digitalWrite(RELAY_PINS[n], RELAY_OFF); // off before the pin drives the relay
    pinMode(RELAY_PINS[n], OUTPUT);
  }
  Serial.begin(9600);
  // The board restarts when PrVardo opens the port; any byte from it asks PrVardo for the word
  // again, in case the first one came while it was starting.
  Serial.write('?');
  // From here on loop() must come round at least once a second, or the watchdog restarts the
  // board.
  wdt_enable(WDTO_1S);
}

void loop()
{
  wdt_reset(); // still running
  if (Serial.available() > 0) {
    show(Serial.read() & 0x3F);
    lastByte = millis();
  } else if (millis() - lastByte >= SILENCE_MS) {
    show(0); // nobody is sending: all off
  }
}
