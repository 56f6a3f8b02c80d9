<?php
// Brindlewick upload script: receives one picture published over HTTP POST
// and stores it where the web server serves it.
//
// Settings: edit the two lines below, or put them in brwk_upload_config.php
// next to this script (that file is read if it exists, so an update of this
// script keeps them):
//
//   <?php
//   $secretKey = 'the secret key from Configure';
//   $uploadDir = '/var/www/html/captures';
//
// The key must be at least 16 characters long (the program's own default key
// is 24 random letters, digits, "-" and "_"); with a shorter one the script
// refuses every upload and says why, since a short key can be guessed.
//
// The program reads only the markers "##TRANSFER_OK##", "##AUTHFAIL##",
// "##SIZEDIFF##", "##CHECK_OK##", "##CHECK_FAILED##", "##DELETE_OK##",
// "##DELETE_GONE##" and "##DELETE_FAILED##" in the answer; any other text is
// for people. A post with "check" set (the connection test in Configure) stores
// nothing: it only says whether the key is right and an upload could be stored.
// A post with "delete" set removes the picture "filename" that an upload
// stored (History's "Delete from server"); any other name is refused as a
// wrong key is.

$secretKey = '';                       // shorter than 16 characters: every upload is refused
$uploadDir = __DIR__ . '/captures';    // must exist and be writable by the web server
$maxBytes  = 16 * 1024 * 1024;         // largest picture accepted

if (is_file(__DIR__ . '/brwk_upload_config.php')) {
    include __DIR__ . '/brwk_upload_config.php';
}

header('Content-Type: text/plain; charset=us-ascii');
header('Cache-Control: no-store');
header('X-Content-Type-Options: nosniff');

function brwk_answer($status, $text) {
    http_response_code($status);
    echo $text, "\n";
    exit;
}

// The upload directory's real path; answers the failure (after $marker)
// when nothing can be stored there.
function brwk_upload_dir($uploadDir, $marker = '') {
    $dir = realpath($uploadDir);
    if ($dir === false || !is_dir($dir) || !is_writable($dir)) {
        brwk_answer(500, $marker . 'Upload failed: the upload directory is missing or not writable.');
    }
    return $dir;
}

// Before anything else: a guessable key would let anyone store pictures here.
if (!is_string($secretKey) || strlen($secretKey) < 16) {
    brwk_answer(500, "##AUTHFAIL##\nUpload refused: the upload script is not set up. Its secret key must be at least 16 characters long; put the key from Configure in brwk_upload_config.php.");
}

if (($_SERVER['REQUEST_METHOD'] ?? '') !== 'POST') {
    brwk_answer(405, 'Brindlewick upload script: send a POST.');
}
// Over post_max_size PHP drops the whole form; say so instead of blaming the key.
if (empty($_POST) && (int)($_SERVER['CONTENT_LENGTH'] ?? 0) > 0) {
    brwk_answer(413, 'Upload refused: the request is larger than post_max_size allows.');
}

$field = function ($name) {
    $value = $_POST[$name] ?? '';
    return is_string($value) ? $value : '';
};

// Compared in constant time so that the answer times do not leak the key.
if (!hash_equals($secretKey, $field('key'))) {
    brwk_answer(403, '##AUTHFAIL##');
}

if ($field('check') !== '') {
    // is_writable() can say yes where a write still fails, so one is tried.
    $failed = "##CHECK_FAILED##\n";
    $dir = brwk_upload_dir($uploadDir, $failed);
    $probe = @tempnam($dir, '.brwk');
    if ($probe === false || dirname($probe) !== $dir) {
        if ($probe !== false) @unlink($probe);
        brwk_answer(500, $failed . 'Upload failed: cannot write in the upload directory.');
    }
    @unlink($probe);
    brwk_answer(200, "##CHECK_OK##\nThe secret key is right and pictures can be stored in the upload directory.");
}

// One dot only, so that no server maps a second extension (x.php.jpg) to a handler.
function brwk_plain_name($name) {
    return strlen($name) <= 200 && preg_match('/^[A-Za-z0-9_-]+\.jpe?g\z/i', $name) === 1;
}

if ($field('delete') !== '') {
    $name = $field('filename');
    // Only a picture of the kind an upload stores, in the upload directory
    // itself: never a path, a link or a file of another kind.
    if (!brwk_plain_name($name)) {
        brwk_answer(403, '##AUTHFAIL##');
    }
    $failed = "##DELETE_FAILED##\n";
    $dir = brwk_upload_dir($uploadDir, $failed);
    $target = $dir . DIRECTORY_SEPARATOR . $name;
    if (is_link($target) || (file_exists($target) && !is_file($target))) {
        brwk_answer(403, '##AUTHFAIL##');
    }
    if (!file_exists($target)) {
        brwk_answer(200, "##DELETE_GONE##\nThe picture is not in the upload directory.");
    }
    if (!@unlink($target)) {
        brwk_answer(500, $failed . 'Delete failed: cannot remove the picture.');
    }
    brwk_answer(200, '##DELETE_OK##');
}

$name = $field('filename');
if (!brwk_plain_name($name)) {
    brwk_answer(400, 'Upload refused: the file name must be letters, digits, "-" and "_" ending in .jpg or .jpeg.');
}

$size = $field('size');
$sizeEnc = $field('sizeenc');
if (!ctype_digit($size) || !ctype_digit($sizeEnc)) {
    brwk_answer(400, 'Upload refused: size fields missing.');
}
if ((int)$size > $maxBytes) {
    brwk_answer(413, 'Upload refused: the picture is larger than this script accepts.');
}

// Form decoding turned every "+" of the Base64 text into a space.
$encoded = str_replace(' ', '+', $field('data'));
$bytes = base64_decode($encoded, true);
if ($bytes === false || strlen($encoded) !== (int)$sizeEnc || strlen($bytes) !== (int)$size) {
    brwk_answer(400, '##SIZEDIFF##');
}

$info = @getimagesizefromstring($bytes);
if (strncmp($bytes, "\xFF\xD8\xFF", 3) !== 0 || $info === false || $info[2] !== IMAGETYPE_JPEG) {
    brwk_answer(415, 'Upload refused: the data is not a JPEG picture.');
}

$dir = brwk_upload_dir($uploadDir);
$target = $dir . DIRECTORY_SEPARATOR . $name;
// Written beside the target and renamed, so a reader never sees half a picture.
$temp = @tempnam($dir, '.brwk');
if ($temp === false || dirname($temp) !== $dir) {
    if ($temp !== false) @unlink($temp);
    brwk_answer(500, 'Upload failed: cannot write in the upload directory.');
}
if (file_put_contents($temp, $bytes) !== strlen($bytes) || !chmod($temp, 0644) || !rename($temp, $target)) {
    @unlink($temp);
    brwk_answer(500, 'Upload failed: cannot store the picture.');
}
brwk_answer(200, '##TRANSFER_OK##');
